#pragma once

#include <string>
#include <string_view>

// What puts the firewall's hook into the programs of the user's next login
// session. An installation for the whole machine (under /usr or /usr/local)
// brings its own: a systemd user environment generator and an X session
// start-up file, which call zel-session and name the hook only when the user
// chose so and the hook is there. An installation under the user's own
// prefix (~/.local) writes the same calls into the user's files instead:
// a user service run at login and a block in ~/.xsessionrc. Everything
// written here calls zel-session only when it is still there, so a removed
// installation leaves no program with a preload the loader complains about.
namespace session {

// The generator's file name under <prefix>/lib/systemd/user-environment-generators.
inline constexpr const char* kGeneratorName = "60-korvel-firewall";
// The X session start-up file's name under /etc/X11/Xsession.d.
inline constexpr const char* kXsessionSnippetName = "85korvel-firewall";
inline constexpr const char* kUserServiceName = "korvel-firewall-session.service";

// True when the installation whose folder is installDir (ending in "/", pkgDir
// below its prefix, e.g. "lib/korvel") lies where systemd runs its generator:
// the prefix is /usr or /usr/local and the generator is installed there
// (looked for below systemRoot, which tests give).
bool IsMachineWide(std::string_view installDir, std::string_view pkgDir, const std::string& systemRoot = "");

struct LoginFiles {
    std::string service;    // $XDG_CONFIG_HOME/systemd/user/korvel-firewall-session.service
    std::string wants;      // its link in basic.target.wants
    std::string xsessionrc; // ~/.xsessionrc
};
LoginFiles UserLoginFiles();

// Writes the user's start-up files so that they call sessionProgram; false
// (with errno, and why in words when given) when one could not be written or
// the path cannot be written into them safely. ~/.xsessionrc is read whole
// or left alone (larger than 16 MB, unreadable, a link that leads nowhere),
// and a link keeps leading to its file, which is the one changed.
bool WriteLoginFiles(const std::string& sessionProgram, std::string* why = nullptr);
// Removes what WriteLoginFiles wrote, leaving the rest of ~/.xsessionrc as
// it was; false (why as above) when something of it is still there.
bool RemoveLoginFiles(std::string* why = nullptr);
// True when any of them is there.
bool HasLoginFiles();

// ~/.xsessionrc's text with the firewall's block replaced by block (empty:
// taken out); the user's own lines stay as they are.
std::string WithXsessionBlock(std::string_view text, std::string_view block);

}  // namespace session
