#include "tools/log/Table.h"

#include "tools/common/ToolOutput.h"

#include <cstdio>
#include <string>

namespace tools::zel_log {

namespace {

constexpr const char* kRow = "%-10s %-8s %-20s %-3s %-7s %-3s %-39s %5s %-10s %s\n";

}  // namespace

void PrintHeader()
{
    std::printf(kRow, "DATE", "TIME", "PROGRAM", "DIR", "VERDICT", "PRO", "PEER", "PORT", "REASON", "HOST");
}

void PrintRecord(const protocol::LogEntry& entry, bool json)
{
    const bool incoming = entry.direction == "0";
    const std::string verdict = entry.permission == "1" ? "allowed" : "denied";
    const std::string protocol = entry.protocol == "1" ? "TCP" : "UDP";
    const std::string& port = incoming ? entry.localPort : entry.remotePort;
    if (json) {
        const nlohmann::ordered_json line = {{"date", entry.date},       {"time", entry.time},
                                             {"program", entry.application}, {"path", entry.exePath},
                                             {"direction", incoming ? "in" : "out"}, {"verdict", verdict},
                                             {"protocol", protocol},      {"peer", entry.ip},
                                             {"port", port},              {"host", entry.host},
                                             {"reason", entry.reason}};
        std::printf("%s\n", JsonText(line).c_str());
    } else {
        // A record of an older engine has no reason: "-" keeps the columns.
        std::printf(kRow, entry.date.c_str(), entry.time.c_str(), entry.application.c_str(), incoming ? "in" : "out",
                    verdict.c_str(), protocol.c_str(), entry.ip.c_str(), port.c_str(),
                    entry.reason.empty() ? "-" : entry.reason.c_str(), entry.host.c_str());
    }
}

}  // namespace tools::zel_log
