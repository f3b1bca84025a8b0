// zel-rules: the firewall's rules from the command line. It changes them
// as the control panel does (the panel's own operations on the rules model,
// the file replaced whole) and, while the panel runs, waits until the panel
// has taken the change and told the running programs concerned. With
// --services it acts on the machine's rules for the system services, root's.
#include "tools/rules/Commands.h"

#include "backstop/ServicesRules.h"
#include "text/ToolStart.h"
#include "text/Translate.h"
#include "tools/common/Arguments.h"

namespace tools::zel_rules {

namespace {

// A new command is a function in a file of its own, declared in Commands.h,
// with its row here and its line in the usage.
constexpr Command kCommands[] = {
    {"list", List},          {"show", Show},          {"allow", SetDefault}, {"block", SetDefault},
    {"ask", SetDefault},     {"add", Add},            {"remove", Remove},    {"export", Export},
    {"import", Import},      {"lists", HostLists},    {"mode", Mode},        {"review", Review},
    {"profile", Profiles},
};

}  // namespace

int Usage(std::FILE* out)
{
    using text::Tr;
    return PrintUsage(out,
                      Tr("zel-rules",
                         "usage: zel-rules [--services [--rules FILE]] COMMAND ...\n"
                         "       zel-rules list\n"
                         "       zel-rules show PROGRAM [--parent NAME|PATH]\n"
                         "       zel-rules allow|block|ask PROGRAM [--in|--out] [--parent NAME|PATH]\n"
                         "       zel-rules add PROGRAM --in|--out --allow|--block|--ask [--port P[,P...]]\n"
                         "                 [--address A[,A...]] [--host NAME[,NAME...]] [--name TEXT]\n"
                         "                 [--parent NAME|PATH]\n"
                         "       zel-rules remove PROGRAM [N] [--parent NAME|PATH]\n"
                         "       zel-rules export\n"
                         "       zel-rules import [FILE]\n"
                         "       zel-rules lists [add NAME URL|FILE | remove NAME | update [NAME] | enable|disable NAME]\n"
                         "       zel-rules lists ignore|obey PROGRAM\n"
                         "       zel-rules mode [ask|quiet-allow|quiet-block|learn [--days N]]\n"
                         "       zel-rules review [--json]\n"
                         "       zel-rules review accept ITEM|--program PATH [--allow|--block] [--scope host|port|any]\n"
                         "       zel-rules review reject ITEM|--program PATH\n"
                         "       zel-rules profile [list | remove NAME | use NAME|--auto]\n"
                         "       zel-rules profile add NAME --network ID [--block-all on|off] [--mode WORD]\n"
                         "                 [--incoming ask|allow|block] [--outgoing ask|allow|block]\n"
                         "                 [--allow[-in|-out] PATH] [--block[-in|-out] PATH] ...\n"
                         "PROGRAM: a program's path or file name; ANY: the system settings.\n"
                         "lists: the host lists subscribed to; update without NAME: the lists due.\n"
                         "lists ignore: the lists are not applied to PROGRAM, its own rules decide; obey: they are.\n"
                         "mode: what the firewall does with what the rules would ask; review: what a\n"
                         "quiet or the learning mode decided without asking, ITEM as it lists them.\n"
                         "profile: what changes on a network; without a word, which is in force and why.\n"
                         "--services: the system services' rules (/etc/korvel/Rules.xml, or FILE), root's to change.\n"),
                      Tr("zel-rules", "Lists and changes the firewall's rules. See zel-rules(1).\n"));
}

}  // namespace tools::zel_rules

int main(int argc, char** argv)
{
    using namespace tools::zel_rules;
    if (const auto answered = text::StartTool({kProgram, argc, argv, Usage}))
        return *answered;
    tools::Arguments arguments(argc, argv, 1);
    Call call;
    if (arguments.Take("--services")) {
        call.target.services = true;
        call.target.path = backstop::kServicesRulesPath;
        if (const auto path = arguments.TakeValue("--rules"))
            call.target.path = *path;
        if (call.target.path.empty())
            return Usage();
    }
    if (arguments.Done())
        return Usage();
    call.command = arguments.Take();
    call.args = arguments.TakeRest();
    for (const Command& command : kCommands)
        if (command.name == call.command)
            return command.run(call);
    return Usage();
}
