#include "session/Autostart.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "protocol/Registry.h"

#include <cerrno>
#include <unistd.h>

namespace session::autostart {

namespace registry = protocol::registry;

using registry::RootKey;

std::string EntryPath() { return os::ConfigHome() + "/autostart/korvel-firewall.desktop"; }

std::string Program() { return registry::GetString(RootKey::LocalMachine, registry::kRunKey, registry::kAutostartValue); }

bool Enable(const std::string& program)
{
    const std::string folder = os::ConfigHome() + "/autostart";
    // The program's path goes into an Exec line: quoted, so that blanks in it survive.
    // Inside quotes '"', '`', '$' and '\\' take a backslash, which the entry's
    // own escaping doubles; '%' is doubled for the field codes.
    if (program.find_first_of("\n\r") != std::string::npos)
        return false;
    std::string exec = "\"";
    for (const char c : program) {
        if (c == '\\')
            exec += "\\\\\\\\";
        else if (c == '"' || c == '`' || c == '$')
            exec += std::string("\\\\") + c;
        else if (c == '%')
            exec += "%%";
        else
            exec += c;
    }
    exec += '"';
    const std::string entry = "[Desktop Entry]\nType=Application\nName=Korvel Firewall\n"
                              "Comment=Korvel Firewall control panel\nExec="
        + exec + "\nIcon=tessary\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    const bool value = registry::SetString(RootKey::LocalMachine, registry::kRunKey, registry::kAutostartValue, program);
    const bool file = os::MakeDirectories(folder) && os::WriteFileAtomically(EntryPath(), entry);
    return value && file;
}

bool Disable()
{
    const bool value = registry::DeleteValue(RootKey::LocalMachine, registry::kRunKey, registry::kAutostartValue);
    const bool file = ::unlink(EntryPath().c_str()) == 0 || errno == ENOENT;
    return value && file;
}

}  // namespace session::autostart
