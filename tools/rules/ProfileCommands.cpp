// Profiles: what changes on one network. profile (which is in force and
// why), profile list, add, remove, use NAME|--auto.
#include "tools/rules/Commands.h"

#include "os/NetworkIdentity.h"
#include "os/NetworkManagerId.h"
#include "protocol/Profiles.h"
#include "text/Translate.h"
#include "tools/common/Arguments.h"

namespace tools::zel_rules {

namespace {

namespace profiles = protocol::profiles;
using text::Arg;
using text::Tr;

// A profile's changes in the words add takes.
std::string Changes(const profiles::Profile& profile)
{
    std::string words;
    const auto add = [&words](const std::string& word) { words += (words.empty() ? "" : " ") + word; };
    if (profile.blockAll)
        add(std::string("--block-all ") + (*profile.blockAll ? "on" : "off"));
    if (!profile.mode.empty())
        add("--mode " + profile.mode);
    if (profile.incoming)
        add(std::string("--incoming ") + profiles::AnswerWord(*profile.incoming));
    if (profile.outgoing)
        add(std::string("--outgoing ") + profiles::AnswerWord(*profile.outgoing));
    for (const profiles::ProgramOverride& program : profile.programs)
        add(std::string(program.allow ? "--allow" : "--block")
            + (program.incoming && program.outgoing ? "" : program.incoming ? "-in" : "-out") + " " + program.path);
    return words.empty() ? "-" : words;
}

int ListProfiles()
{
    std::printf("%-20s %-30s %s\n", "NAME", "NETWORK", "CHANGES");
    for (const profiles::Profile& profile : profiles::All())
        std::printf("%-20s %-30s %s\n", profile.name.c_str(), profile.network.c_str(), Changes(profile).c_str());
    const std::string network = os::CurrentNetworkId();
    std::printf("%s\n", Arg(Tr("zel-rules", "this network: %1"), {network.empty() ? "-" : network}).c_str());
    return FinishOutput();
}

// Which profile is in force and why.
int ShowActive()
{
    const std::string active = os::EscapeNetworkText(profiles::ActiveName());
    const std::string chosen = os::EscapeNetworkText(profiles::ChosenName());
    const std::string network = os::CurrentNetworkId();
    if (active.empty())
        std::printf("%s\n", Tr("zel-rules", "no profile is in force").c_str());
    else if (!chosen.empty())
        std::printf("%s\n", Arg(Tr("zel-rules", "profile \"%1\" is in force: chosen by hand"), {active}).c_str());
    else
        std::printf("%s\n", Arg(Tr("zel-rules", "profile \"%1\" is in force: its network is this one"), {active}).c_str());
    std::printf("%s\n", Arg(Tr("zel-rules", "this network: %1"), {network.empty() ? "-" : network}).c_str());
    return FinishOutput();
}

int CheckName(const std::string& name)
{
    if (const std::string problem = profiles::NameProblem(name); !problem.empty())
        return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no profile name: %2"), {os::EscapeNetworkText(name), problem}));
    return 0;
}

int Misused(const char* option, const std::string& value)
{
    return Fail(kMisused, Arg(Tr("zel-rules", "%1 does not take \"%2\""), {option, os::EscapeNetworkText(value)}));
}

int AddProfile(const std::vector<std::string>& args)
{
    tools::Arguments arguments(args);
    profiles::Profile profile;
    profile.name = arguments.Take();
    if (const int status = CheckName(profile.name))
        return status;
    while (!arguments.Done()) {
        if (const auto network = arguments.TakeValue("--network")) {
            if (!profiles::NetworkProblem(*network).empty())
                return Misused("--network", *network);
            profile.network = *network;
        } else if (const auto blockAll = arguments.TakeValue("--block-all")) {
            if (*blockAll != "on" && *blockAll != "off")
                return Misused("--block-all", *blockAll);
            profile.blockAll = *blockAll == "on";
        } else if (const auto mode = arguments.TakeValue("--mode")) {
            if (!profiles::IsModeWord(*mode))
                return Misused("--mode", *mode);
            profile.mode = *mode;
        } else if (const auto incoming = arguments.TakeValue("--incoming")) {
            if (!(profile.incoming = profiles::ParseAnswer(*incoming)))
                return Misused("--incoming", *incoming);
        } else if (const auto outgoing = arguments.TakeValue("--outgoing")) {
            if (!(profile.outgoing = profiles::ParseAnswer(*outgoing)))
                return Misused("--outgoing", *outgoing);
        } else {
            static constexpr struct {
                const char* option;
                bool allow, incoming, outgoing;
            } kOverrides[] = {{"--allow", true, true, true},       {"--block", false, true, true},
                              {"--allow-in", true, true, false},   {"--block-in", false, true, false},
                              {"--allow-out", true, false, true},  {"--block-out", false, false, true}};
            bool taken = false;
            for (const auto& form : kOverrides) {
                const auto path = arguments.TakeValue(form.option);
                if (!path)
                    continue;
                if (!profiles::PathProblem(*path).empty())
                    return Misused(form.option, *path);
                if (profile.OverrideFor(*path))
                    return Fail(kMisused, Arg(Tr("zel-rules", "%1 is named twice"), {*path}));
                profile.programs.push_back({*path, form.allow, form.incoming, form.outgoing});
                taken = true;
                break;
            }
            if (!taken)
                return Usage();
        }
    }
    if (profile.network.empty())
        return Fail(kMisused, Tr("zel-rules", "a profile needs its network: --network ID (see zel-rules profile list)"));
    if (profile.programs.size() > profiles::kMaxOverrides)
        return Fail(kMisused, Tr("zel-rules", "a profile holds at most 256 programs"));
    // Replacing a profile keeps the name as first spelled.
    if (const auto existing = profiles::Find(profile.name))
        profile.name = existing->name;
    if (!profiles::Save(profile))
        return Fail(kFailed, Arg(Tr("zel-rules", "profile \"%1\" could not be stored"), {profile.name}));
    return 0;
}

int UseProfile(const std::string& name)
{
    if (name == "--auto")
        return profiles::Choose("") ? 0 : Fail(kFailed, Tr("zel-rules", "the choice could not be stored"));
    if (const int status = CheckName(name))
        return status;
    const auto profile = profiles::Find(name);
    if (!profile)
        return Fail(kMisused, Arg(Tr("zel-rules", "there is no profile \"%1\""), {name}));
    return profiles::Choose(profile->name) ? 0 : Fail(kFailed, Tr("zel-rules", "the choice could not be stored"));
}

}  // namespace

int Profiles(const Call& call)
{
    if (call.target.services)
        return Fail(kMisused, Tr("zel-rules", "profiles are the user's: --services does not apply to them"));
    const std::vector<std::string>& args = call.args;
    if (args.empty())
        return ShowActive();
    const std::string& verb = args[0];
    if (verb == "list" && args.size() == 1)
        return ListProfiles();
    if (verb == "add" && args.size() >= 2)
        return AddProfile({args.begin() + 1, args.end()});
    if (verb == "remove" && args.size() == 2) {
        if (const int status = CheckName(args[1]))
            return status;
        if (!profiles::Find(args[1]))
            return Fail(kMisused, Arg(Tr("zel-rules", "there is no profile \"%1\""), {args[1]}));
        return profiles::Remove(args[1]) ? 0 : Fail(kFailed, Tr("zel-rules", "the profile could not be removed"));
    }
    if (verb == "use" && args.size() == 2)
        return UseProfile(args[1]);
    return Usage();
}

}  // namespace tools::zel_rules
