// zel-log: the firewall's daily traffic logs from the command line, read
// as the control panel reads them (its list of daily files, the records
// parsed by the platform's reader), as a table or as JSON lines.
#include "tools/log/Modes.h"

#include "text/ToolStart.h"
#include "text/Translate.h"

namespace tools::zel_log {

namespace {

// A new mode is a function in a file of its own, declared in Modes.h, with
// its row here and its options in the usage.
constexpr Mode kModes[] = {
    {"", ShowRecords},
    {"--connections", ShowConnections},
};

}  // namespace

int Usage(std::FILE* out)
{
    return PrintUsage(
        out,
        text::Tr("zel-log", "usage: zel-log [--today | --since YYYY-MM-DD] [--program NAME] [--denied] [--follow] [--json]\n"
                     "       zel-log --connections [--json]\n"),
        text::Tr("zel-log", "Shows the firewall's traffic log. See zel-log(1).\n"));
}

}  // namespace tools::zel_log

int main(int argc, char** argv)
{
    using namespace tools::zel_log;
    // The records themselves stay as the engine wrote them, in any language.
    if (const auto answered = text::StartTool({kProgram, argc, argv, Usage}))
        return *answered;
    tools::Arguments args(argc, argv, 1);
    const Mode* mode = &kModes[0];
    for (const Mode& other : kModes)
        if (!other.option.empty() && args.Take(other.option)) {
            mode = &other;
            break;
        }
    return mode->run(args);
}
