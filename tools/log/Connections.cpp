// The connections mode: the user's open TCP and UDP sockets now, hooked
// programs or not, as the control panel's connections page lists them.
#include "tools/log/Modes.h"
#include "tools/log/Table.h"

#include "panel/core/LiveConnections.h"
#include "panel/core/PanelSettings.h"
#include "rules/ProgramNames.h"

#include "text/Translate.h"

#include <algorithm>
#include <cstring>
#include <chrono>
#include <ctime>
#include <tuple>
#include <unistd.h>

namespace tools::zel_log {

namespace {

constexpr Column kColumns[] = {{"PROGRAM", 20, 7},  {"PID", 7, 0, true}, {"PRO", 3, 0},
                               {"DIR", 9, 0},       {"STATE", 11, 0},    {"PEER", 39, 7},
                               {"PORT", 5, 0, true}, {"SENT", 11, 0, true}, {"RECEIVED", 11, 0, true},
                               {"DECIDED", 10, 0},  {"HOST", 24, 4}};
constexpr TableLayout kLayout {kColumns, 0, 32};

std::string ProgramName(const panel::LiveConnection& connection)
{
    if (connection.path.empty())
        return "-";
    return rules::program_names::DisplayName(connection.path, {});
}

std::string Bytes(const std::optional<uint64_t>& bytes) { return bytes ? std::to_string(*bytes) : "-"; }

nlohmann::ordered_json Optional(const std::optional<uint64_t>& bytes)
{
    return bytes ? nlohmann::ordered_json(*bytes) : nlohmann::ordered_json(nullptr);
}

}  // namespace

int ShowConnections(Arguments& args)
{
    bool json = false;
    while (!args.Done())
        if (args.Take("--json"))
            json = true;
        else
            return Usage();
    // Today's records tell hosts and decisions; without them the sockets
    // are still listed.
    panel::PanelSettings settings;
    panel::GetFilesFromReg(settings);
    // Once, not live: every process of the user is looked into now.
    panel::LiveConnections::Options options;
    options.uid = ::getuid();
    options.logFolder = settings.LogFilePath;
    options.owners = {.maxProcesses = 1u << 20, .maxDescriptors = 1u << 26, .maxTime = std::chrono::seconds(5)};
    options.sockets.timeout = std::chrono::seconds(5);
    panel::LiveConnections live(options);
    std::vector<panel::LiveConnection> rows;
    bool partial = false;
    using os::sockdiag::DumpStatus;
    switch (live.Refresh(std::chrono::steady_clock::now(), std::time(nullptr), rows)) {
    case DumpStatus::Complete: break;
    case DumpStatus::Failed:
        return Fail(kFailed, text::Arg(text::Tr("zel-log", "the kernel's list of sockets cannot be read: %1"),
                                       {std::strerror(live.Error())}));
    case DumpStatus::Truncated:
    case DumpStatus::TimedOut:
        // What was read is shown; the status tells a script it is not all.
        Fail(0, text::Tr("zel-log", "the kernel's list of sockets was not read whole: the first are shown"));
        partial = true;
        break;
    }
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return std::tie(a.path, a.pid, a.direction, a.peer, a.peerPort, a.localPort)
            < std::tie(b.path, b.pid, b.direction, b.peer, b.peerPort, b.localPort);
    });
    const int width = json ? 0 : TerminalWidth();
    if (!json)
        std::printf("%s\n", TableHeader(kLayout, width).c_str());
    for (const panel::LiveConnection& row : rows) {
        const std::string program = ProgramName(row);
        const char* protocol = row.tcp ? "TCP" : "UDP";
        const char* direction = panel::DirectionWord(row.direction);
        if (json) {
            const nlohmann::ordered_json line = {
                {"program", program},
                {"path", row.path},
                {"pid", row.pid},
                {"hooked", row.hooked},
                {"protocol", protocol},
                {"direction", direction},
                {"state", row.state},
                {"local", row.local},
                {"localPort", row.localPort},
                {"peer", row.peer},
                {"peerPort", row.peerPort},
                {"host", row.host},
                {"decidedBy", row.decidedBy},
                {"bytesSent", Optional(row.bytesSent)},
                {"bytesReceived", Optional(row.bytesReceived)},
            };
            std::printf("%s\n", JsonText(line).c_str());
            continue;
        }
        const std::string pid = row.pid ? std::to_string(row.pid) : "-";
        const std::string peer = row.peer.empty() ? "*" : row.peer;
        const std::string port = std::to_string(row.RecordPort());
        const std::string sent = Bytes(row.bytesSent);
        const std::string received = Bytes(row.bytesReceived);
        const std::string decided = row.decidedBy.empty() ? "-" : row.decidedBy;
        const std::string_view values[] = {program, pid,      protocol, direction,
                                           row.state, peer,   port,     sent,
                                           received, decided,   row.host};
        std::printf("%s\n", TableRow(kLayout, values, width).c_str());
    }
    const int finished = FinishOutput();
    return finished ? finished : partial ? kFailed : 0;
}

}  // namespace tools::zel_log
