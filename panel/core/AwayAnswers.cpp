#include "panel/core/AwayAnswers.h"

#include "panel/core/FileInformation.h"
#include "protocol/PanelMessages.h"
#include "rules/hooksafe/Names.h"
#include "text/Strings.h"
#include "text/Translate.h"

#include <ctime>

namespace panel {

namespace {

using protocol::away::Decision;

// A rule for the host: the engine sent the name in the form rules use.
bool ForHost(const Decision& decision)
{
    if (!decision.outgoing || decision.host.empty())
        return false;
    char normal[rules::kMaxHostName + 1];
    const size_t length = rules::NormalizeHostName(decision.host.data(), decision.host.size(), normal, sizeof normal);
    return length != 0 && std::string_view(normal, length) == decision.host;
}

bool SameDay(std::time_t time, std::time_t now)
{
    tm at {};
    tm today {};
    return ::localtime_r(&time, &at) && ::localtime_r(&now, &today) && at.tm_year == today.tm_year
        && at.tm_yday == today.tm_yday;
}

}  // namespace

AwayLine DescribeAway(const Decision& decision, std::time_t now)
{
    AwayLine line;
    line.time = decision.time;
    line.today = SameDay(decision.time, now);
    line.program = ProgramDisplayName(decision.path);
    if (line.program.empty())
        line.program = decision.path;
    const std::string protocol = decision.protocol == 2 ? "UDP" : "TCP";
    const std::string peer = decision.host.empty() ? decision.address : decision.host + " (" + decision.address + ")";
    line.connection = decision.outgoing
        ? text::Arg(text::Tr("AwayAnswers", "%1 to %2 port %3"),
                        {protocol, peer, std::to_string(decision.remotePort)})
        : text::Arg(text::Tr("AwayAnswers", "%1 from %2 to port %3"),
                        {protocol, peer, std::to_string(decision.localPort)});
    // Shown only: the list keeps the decision as a flag.
    line.decided = decision.permitted ? text::Tr("AwayAnswers", "Allowed") : text::Tr("AwayAnswers", "Blocked");
    return line;
}

std::optional<AlertedApp> AllowAwayDecision(PanelCore& core, const Decision& decision, const std::string& listPath)
{
    // Process 0: the program is the one whose path its engine recorded,
    // never whatever now runs under a reused process number.
    const bool forHost = ForHost(decision);
    const auto app = forHost
        ? SetHostRule(core, protocol::kCodeOutgoingHostPermitted, 0, core.ProcRoot(), decision.host, decision.path)
        : SetNewApp(core, decision.outgoing ? protocol::kCodeOutgoingPermitted : protocol::kCodeIncomingPermitted, 0,
                    core.ProcRoot(), "", decision.path);
    if (!app)
        return std::nullopt;
    // What the rule covers leaves the list: that host of that program, or
    // the whole direction of that program.
    protocol::away::Remove(listPath, [&](const Decision& other) {
        return other.path == decision.path && other.outgoing == decision.outgoing
            && (!forHost || other.host == decision.host);
    });
    return app;
}

bool ClearAwayDecisions(const std::string& listPath)
{
    return protocol::away::Remove(listPath, [](const Decision&) { return true; });
}

}  // namespace panel
