#include "session/SessionLogin.h"

#include "os/Files.h"
#include "os/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace session {

namespace {

constexpr std::string_view kBlockStart = "# >>> Korvel Firewall";
constexpr std::string_view kBlockEnd = "# <<< Korvel Firewall";

// A path as one word of a POSIX shell: single-quoted.
std::string ShellWord(std::string_view text)
{
    std::string word = "'";
    for (const char c : text) {
        if (c == '\'')
            word += "'\\''";
        else
            word += c;
    }
    return word + "'";
}

// A path can go into a unit file only without the characters its reader
// expands or ends a line at.
bool FitsUnitFile(std::string_view path) { return path.find_first_of("\"\\$%\n\r") == std::string_view::npos; }

std::string ServiceText(const std::string& program)
{
    return "# Written by Korvel Firewall for \"Decide every program I start\", removed when it is off:\n"
           "# at login, the firewall's hook goes into the environment of this user's services.\n"
           "[Unit]\n"
           "Description=Korvel Firewall: programs of this session start under the firewall\n"
           "DefaultDependencies=no\n"
           "Before=basic.target\n"
           "ConditionPathIsExecutable="
        + program
        + "\n\n[Service]\n"
          "Type=oneshot\n"
          "TimeoutStartSec=10s\n"
          // The manager only: the session bus starts after this.
          "ExecStart=\""
        + program
        + "\" --update-session --manager-only\n\n"
          "[Install]\n"
          "WantedBy=basic.target\n";
}

// Xsession runs its program as an unquoted word list: only a path that
// neither splits nor expands can stand in it.
bool FitsCommandWords(std::string_view path) { return path.find_first_of(" \t\n*?[\"'$`\\") == std::string_view::npos; }

std::string XsessionBlock(const std::string& program)
{
    const std::string word = ShellWord(program);
    // A session program a display manager named is known here already: it
    // starts through zel-session, which names the hook again after the
    // set-group-ID ssh-agent Xsession may put in front of it cleared it.
    const std::string wrap = FitsCommandWords(program)
        ? "    if [ -n \"$STARTUP\" ]; then STARTUP=\"" + program + " --run $STARTUP\"; fi\n"
        : std::string();
    return std::string(kBlockStart)
        + ": programs of this session start under the firewall (removed when \"Decide every program I start\" is off)\n"
          "if [ -x "
        + word + " ]; then\n  korvel_preload=$(" + word
        + " --preload 2>/dev/null) || korvel_preload=\n"
          "  if [ -n \"$korvel_preload\" ]; then\n"
          "    LD_PRELOAD=$korvel_preload\n"
          "    export LD_PRELOAD\n"
        + wrap
        + "  fi\n"
          "  unset korvel_preload\n"
          "fi\n"
        + std::string(kBlockEnd) + "\n";
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool Remove(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

// Larger than any start-up script; a file beyond it is left alone rather
// than written back cut short.
constexpr size_t kMaxXsessionrcBytes = 16 << 20;

// ~/.xsessionrc read whole, and the file a change replaces: a link's target,
// so that a linked file stays a link. problem says why it is left alone.
struct SessionScript {
    bool exists = false;
    std::string text;
    std::string target;
    std::string problem;
};

SessionScript ReadSessionScript(const std::string& path)
{
    SessionScript script;
    script.target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            script.problem = path + " cannot be looked at (" + std::strerror(errno) + "); it is left as it is";
        return script;
    }
    script.exists = true;
    if (S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (!::realpath(path.c_str(), real)) {
            script.problem = path + " is a link that leads nowhere (" + std::strerror(errno) + "); it is left as it is";
            return script;
        }
        script.target = real;
    }
    const auto text = os::ReadFile(script.target, kMaxXsessionrcBytes + 1);
    if (!text)
        script.problem = path + " cannot be read (" + std::strerror(errno) + "); it is left as it is";
    else if (text->size() > kMaxXsessionrcBytes)
        script.problem = path + " is larger than " + std::to_string(kMaxXsessionrcBytes >> 20)
            + " MB; it is left as it is";
    else
        script.text = *text;
    return script;
}

bool WriteSessionScript(const SessionScript& script, const std::string& text, std::string* why)
{
    struct stat st {};
    const mode_t mode = ::stat(script.target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    if (os::WriteFileAtomically(script.target, text, mode))
        return true;
    if (why)
        *why = script.target + " cannot be written (" + std::strerror(errno) + ")";
    return false;
}

bool Refuse(const SessionScript& script, std::string* why)
{
    if (why)
        *why = script.problem;
    errno = EINVAL;
    return false;
}

}  // namespace

bool IsMachineWide(std::string_view installDir, std::string_view pkgDir, const std::string& systemRoot)
{
    std::string folder(installDir);
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    const std::string tail = "/" + std::string(pkgDir);
    if (!folder.ends_with(tail))
        return false;
    const std::string prefix = folder.substr(0, folder.size() - tail.size());
    if (prefix != "/usr" && prefix != "/usr/local")
        return false;
    return Exists(systemRoot + prefix + "/lib/systemd/user-environment-generators/" + kGeneratorName);
}

LoginFiles UserLoginFiles()
{
    const std::string units = os::ConfigHome() + "/systemd/user/";
    return {units + kUserServiceName, units + "basic.target.wants/" + kUserServiceName, os::HomeFolder() + "/.xsessionrc"};
}

std::string WithXsessionBlock(std::string_view text, std::string_view block)
{
    // Line by line; a block is taken out only whole, from its first line to
    // its last, so that a damaged one never costs the user's own lines.
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        if (text.substr(start, end - start).starts_with(kBlockStart)) {
            size_t last = end;
            bool closed = false;
            while (last < text.size() && !closed) {
                size_t next = text.find('\n', last);
                next = next == std::string_view::npos ? text.size() : next + 1;
                closed = text.substr(last, next - last).starts_with(kBlockEnd);
                last = next;
            }
            if (closed) {
                start = last;
                continue;
            }
        }
        out += text.substr(start, end - start);
        start = end;
    }
    if (!block.empty()) {
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += block;
    }
    return out;
}

bool WriteLoginFiles(const std::string& sessionProgram, std::string* why)
{
    if (!FitsUnitFile(sessionProgram) || sessionProgram.empty() || sessionProgram.front() != '/') {
        if (why)
            *why = sessionProgram + " cannot be named in a unit file";
        errno = EINVAL;
        return false;
    }
    const LoginFiles files = UserLoginFiles();
    const std::string wants = files.wants.substr(0, files.wants.rfind('/'));
    const std::string service = ServiceText(sessionProgram);
    if (!os::MakeDirectories(wants)
        || (os::ReadFile(files.service, 1 << 16) != service && !os::WriteFileAtomically(files.service, service))
        || (!Exists(files.wants)
            && ::symlink(("../" + std::string(kUserServiceName)).c_str(), files.wants.c_str()) != 0)) {
        if (why)
            *why = files.service + " cannot be written (" + std::strerror(errno) + ")";
        return false;
    }
    const SessionScript script = ReadSessionScript(files.xsessionrc);
    if (!script.problem.empty())
        return Refuse(script, why);
    const std::string wanted = WithXsessionBlock(script.text, XsessionBlock(sessionProgram));
    return wanted == script.text || WriteSessionScript(script, wanted, why);
}

bool RemoveLoginFiles(std::string* why)
{
    const LoginFiles files = UserLoginFiles();
    bool ok = Remove(files.wants);
    ok = Remove(files.service) && ok;
    if (!ok && why)
        *why = files.service + " cannot be removed (" + std::strerror(errno) + ")";
    const SessionScript script = ReadSessionScript(files.xsessionrc);
    if (!script.exists)
        return ok;
    if (!script.problem.empty())
        return Refuse(script, why);
    const std::string rest = WithXsessionBlock(script.text, {});
    if (rest == script.text)
        return ok;
    // A file of its own that held only the block was the firewall's; a
    // linked one is the user's, emptied through the link.
    if (script.target == files.xsessionrc && rest.find_first_not_of(" \t\n") == std::string::npos) {
        if (Remove(files.xsessionrc))
            return ok;
        if (why)
            *why = files.xsessionrc + " cannot be removed (" + std::strerror(errno) + ")";
        return false;
    }
    return WriteSessionScript(script, rest, why) && ok;
}

bool HasLoginFiles()
{
    const LoginFiles files = UserLoginFiles();
    if (Exists(files.service) || Exists(files.wants))
        return true;
    // One that cannot be read whole may hold the block: said when it is to go.
    const SessionScript script = ReadSessionScript(files.xsessionrc);
    return script.exists && (!script.problem.empty() || WithXsessionBlock(script.text, {}) != script.text);
}

}  // namespace session
