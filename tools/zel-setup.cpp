// zel-setup: does what an installer does. Creates every missing setting,
// the log and error-log folders and, when no usable rules file exists, the
// default rules document. Existing values are left alone, so it can run again.
//   zel-setup [--install-dir DIR] [--bin-dir DIR] [--quiet]
#include "os/Files.h"
#include "os/Paths.h"
#include "os/Processes.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "session/Autostart.h"
#include "text/ToolTranslation.h"
#include "text/Translate.h"
#include "text/hooksafe/Version.h"

#include <cstdio>
#include <cstring>
#include <limits.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using namespace protocol::registry;

bool quiet = false;

using text::Arg;
using text::Tr;

void Say(const std::string& text)
{
    if (!quiet)
        std::fputs(text.c_str(), stdout);
}

void Complain(const std::string& text) { std::fprintf(stderr, "zel-setup: %s\n", text.c_str()); }

std::string Folder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string RealPath(const std::string& path)
{
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

// Creates the value when it is missing; true when it was created.
bool Ensure(std::string_view subKey, const char* name, const std::string& text, bool& failed)
{
    if (Query(RootKey::LocalMachine, subKey, name))
        return false;
    if (!SetString(RootKey::LocalMachine, subKey, name, text)) {
        Complain(Arg(Tr("zel-setup", "cannot write the setting %1"), {name}));
        failed = true;
        return false;
    }
    Say(Arg(Tr("zel-setup", "  set %1 = %2\n"), {name, text}));
    return true;
}



}  // namespace

int main(int argc, char** argv)
{
    text::UseToolTranslation("zel-tools", true);
    const std::string self = os::processes::OwnExecutablePath();
    std::string binDir = Folder(self);
    std::string installDir = RealPath(binDir + "/../" ZEL_PKG_DIR);
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--install-dir") && i + 1 < argc)
            installDir = argv[++i];
        else if (!std::strcmp(argv[i], "--bin-dir") && i + 1 < argc)
            binDir = argv[++i];
        else if (!std::strcmp(argv[i], "--quiet"))
            quiet = true;
        else if (text::IsVersionOption(argv[i]))
            return text::PrintVersion("zel-setup");
        else {
            const bool asked = text::IsHelpOption(argv[i]);
            std::fputs(Tr("zel-setup", "usage: zel-setup [--install-dir DIR] [--bin-dir DIR] [--quiet]\n").c_str(),
                       asked ? stdout : stderr);
            if (asked)
                std::fputs(Tr("zel-setup", "Creates the settings, folders and default rules a user of the firewall needs;\n"
                                           "what exists already is left alone. See zel-setup(1).\n")
                               .c_str(),
                           stdout);
            return asked ? 0 : 2;
        }
    }
    if (!installDir.empty() && installDir.back() != '/')
        installDir += '/';

    const std::string state = os::StateHome() + "/korvel";
    bool failed = false;
    // A first installation has no settings at all; only then does it switch
    // autostart and the whole session's protection on, so that a user who
    // turned them off keeps them off.
    const bool firstInstall = ListValues(RootKey::LocalMachine, kSettingsKey).empty();

    Say(Arg(Tr("zel-setup", "Settings in %1\n"), {os::RegistryRoot()}));
    Ensure(kSettingsKey, protocol::settings::kRulesFile, os::ConfigHome() + "/korvel/Rules.xml", failed);
    Ensure(kSettingsKey, protocol::settings::kLogFilesPath, state + "/logs", failed);
    Ensure(kSettingsKey, protocol::settings::kLogFileCount, "30", failed);
    Ensure(kSettingsKey, protocol::settings::kSecurityStatus, "1", failed);
    Ensure(kSettingsKey, protocol::settings::kSecurityMode, "Normal", failed);
    Ensure(kSettingsKey, protocol::settings::kErrLogs, state + "/errlogs", failed);
    Ensure(kSettingsKey, protocol::settings::kVrnFolder, installDir, failed);
    Ensure(kSettingsKey, protocol::settings::kUpdFullMode, "0", failed);
    Ensure(kSettingsKey, protocol::settings::kApplySettings, "False", failed);
    Ensure(kSettingsKey, protocol::settings::kFirstClose, "1", failed);
    Ensure(kSettingsKey, protocol::settings::kDebugPrint, "0", failed);
    Ensure(kSettingsKey, protocol::settings::kAlertTimeout, "0", failed);
    // Nobody at the screen: Block after 30 seconds.
    Ensure(kSettingsKey, protocol::settings::kAwayAnswer, "2", failed);
    Ensure(kSettingsKey, protocol::settings::kAwayTimeout, std::to_string(protocol::settings::kDefaultAwayTimeout), failed);
    Ensure(kSettingsKey, protocol::settings::kJournalRecords, "0", failed);
    Ensure(kSettingsKey, protocol::settings::kCanaryNoSuchName, "1", failed);
    if (firstInstall) {
        // A new user has every program they start decided.
        Ensure(kSettingsKey, protocol::settings::kDecideEveryProgram, "1", failed);
        const std::string program = binDir + "/zel";
        if (!Query(RootKey::LocalMachine, kRunKey, kAutostartValue)) {
            if (session::autostart::Enable(program)) {
                Say(Arg(Tr("zel-setup", "  set %1 = %2\n"), {kAutostartValue, program}));
            } else {
                Complain(Tr("zel-setup", "cannot write the autostart entry"));
                failed = true;
            }
        }
    }

    // The folders the settings name, whichever values they hold now.
    for (const char* name : {protocol::settings::kLogFilesPath, protocol::settings::kErrLogs}) {
        const std::string folder = GetString(RootKey::LocalMachine, kSettingsKey, name);
        if (!folder.empty() && !os::MakeDirectories(folder)) {
            Complain(Arg(Tr("zel-setup", "cannot create the folder %1"), {folder}));
            failed = true;
        }
    }
    const std::string rules = GetString(RootKey::LocalMachine, kSettingsKey, protocol::settings::kRulesFile);
    // Only where nothing is lost: no file at all (not even a link), or an empty one.
    if (const std::string target = rules::rules_file::PlaceForDefault(rules); !target.empty()) {
        if (os::MakeDirectories(Folder(target))
            && os::WriteFileAtomically(target, rules::rules_format::kDefaultRulesDocument))
            Say(Arg(Tr("zel-setup", "  wrote the default rules to %1\n"), {target}));
        else {
            Complain(Arg(Tr("zel-setup", "cannot write the rules file %1"), {target}));
            failed = true;
        }
    }
    if (const std::string problem = os::RuntimeDirProblem(); !problem.empty())
        std::fprintf(stderr, "zel-setup: %s\n", problem.c_str());
    return failed ? 1 : 0;
}
