#include "tests/Sandbox.h"

#include "os/Files.h"
#include "protocol/Registry.h"
#include "rules/RulesFormat.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/ipv6.h>
#include <net/if.h>
#include <sstream>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

using protocol::registry::RootKey;

Sandbox::Sandbox()
{
    char pattern[] = "/tmp/zel-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made)
        throw std::runtime_error("mkdtemp failed");
    root = made;
    registry = root + "/registry";
    runtime = root + "/runtime";
    logs = root + "/logs";
    rulesFile = root + "/Rules.xml";
    ::mkdir(registry.c_str(), 0700);
    ::mkdir(runtime.c_str(), 0700);
    ::mkdir(logs.c_str(), 0700);
    ::mkdir((root + "/data").c_str(), 0700);
    ::mkdir((root + "/config").c_str(), 0700);
    ::setenv("ZEL_REGISTRY_ROOT", registry.c_str(), 1);
    ::setenv("ZEL_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (root + "/data-dirs").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
    // Nothing reaches the desktop the tests run on: a test that wants a
    // session bus makes one of its own.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    SetSetting("RulesFile", rulesFile);
    SetSetting("LogFilesPath", logs);
    SetSetting("SecurityStatus", "1");
    SetAutostart(true);
}

Sandbox::~Sandbox()
{
    RemoveTree(root);
    for (const char* name : {"ZEL_REGISTRY_ROOT", "ZEL_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_DATA_DIRS",
                             "XDG_CONFIG_HOME", "XDG_STATE_HOME"})
        ::unsetenv(name);
}

void Sandbox::SetSetting(std::string_view name, std::string_view text) const
{
    ASSERT_TRUE(protocol::registry::SetString(RootKey::LocalMachine, protocol::registry::kSettingsKey, name, text));
}

void Sandbox::DeleteSetting(std::string_view name) const
{
    protocol::registry::DeleteValue(RootKey::LocalMachine, protocol::registry::kSettingsKey, name);
}

void Sandbox::SetAutostart(bool present) const
{
    using namespace protocol::registry;
    if (present)
        SetString(RootKey::LocalMachine, kRunKey, kAutostartValue, "/usr/local/bin/zel");
    else
        DeleteValue(RootKey::LocalMachine, kRunKey, kAutostartValue);
}

void Sandbox::WriteRules(std::string_view document) const { WriteText(rulesFile, document); }

void Sandbox::InstallPanel(std::string_view portsList) const
{
    const std::string install = root + "/install/";
    os::MakeDirectories(install);
    WriteText(install + "VrnPorts.txt", portsList);
    SetSetting("VRNFolder", install);
    SetSetting("ErrLogs", logs);
    SetSetting("LogFileCount", "30");
    SetSetting("SecurityMode", "Normal");
    SetSetting("ApplySettings", "False");
    SetSetting("FirstClose", "1");
    SetSetting("DebugPrint", "0");
    SetSetting("UpdFullMode", "0");
}

FakeProcessTable::FakeProcessTable(std::string folder) : root_(std::move(folder)) { ::mkdir(root_.c_str(), 0755); }

void FakeProcessTable::Add(int pid, int parent, const std::string& exe, bool service) const
{
    const std::string folder = root_ + "/" + std::to_string(pid);
    ::mkdir(folder.c_str(), 0755);
    const std::string name = exe.empty() ? "kthread" : exe.substr(exe.rfind('/') + 1);
    WriteText(folder + "/stat", std::to_string(pid) + " (" + name + ") S " + std::to_string(parent) + " 1 1");
    WriteText(folder + "/status", "Name:\t" + name + "\nUid:\t" + (service ? "0" : "1000") + "\t0\t0\t0\n");
    WriteText(folder + "/cgroup", service ? "0::/system.slice/" + name + ".service\n" : "0::/user.slice/user-1000.slice\n");
    if (!exe.empty()) {
        EXPECT_EQ(::symlink(exe.c_str(), (folder + "/exe").c_str()), 0);
    }
}

namespace {

// keep: a folder inside folder that stays the one outside (empty: none).
int WithOwnDisk(const std::string& folder, const std::string& options, const std::string& keep,
                const std::function<bool()>& fn)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0)
            ::_exit(77);
        if (uid != 0) {
            WriteText("/proc/self/setgroups", "deny");
            WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
            WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        }
        const int kept = keep.empty() ? -1 : ::open(keep.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("none", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
            ::_exit(77);
        if (!keep.empty()
            && (kept < 0 || ::mkdir(keep.c_str(), 0700) != 0
                || ::mount(("/proc/self/fd/" + std::to_string(kept)).c_str(), keep.c_str(), nullptr, MS_BIND, nullptr) != 0))
            ::_exit(77);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int WithTinyDisk(const std::string& folder, const char* size, const std::function<bool()>& fn)
{
    return WithOwnDisk(folder, std::string("size=") + size, {}, fn);
}

int WithPrivateTmp(const std::string& keep, const std::function<bool()>& fn)
{
    return WithOwnDisk("/tmp", "size=8m,mode=1777", keep, fn);
}

bool EnterPrivateNetwork(const std::vector<std::string>& ipv6Addresses, std::string& why)
{
    const auto failed = [&why](const std::string& what) {
        why = what + ": " + std::strerror(errno);
        return false;
    };
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            return failed("no network namespace of its own");
    } else {
        // The same user inside, with the capabilities over its own namespaces.
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return failed("no user and network namespace of its own");
        WriteText("/proc/self/setgroups", "deny");
        WriteText("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
        WriteText("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    }
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return failed("no IPv6 socket");
    ifreq loopback {};
    std::strcpy(loopback.ifr_name, "lo");
    bool done = ::ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
    loopback.ifr_flags = static_cast<short>(loopback.ifr_flags | IFF_UP);
    done = done && ::ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
    if (!done) {
        ::close(fd);
        return failed("the loopback does not come up");
    }
    for (const std::string& address : ipv6Addresses) {
        in6_ifreq request {};
        request.ifr6_prefixlen = 128;
        request.ifr6_ifindex = static_cast<int>(::if_nametoindex("lo"));
        if (::inet_pton(AF_INET6, address.c_str(), &request.ifr6_addr) != 1 || ::ioctl(fd, SIOCSIFADDR, &request) != 0) {
            ::close(fd);
            return failed("cannot put " + address + " on the loopback");
        }
    }
    ::close(fd);
    return true;
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Sandbox::LogLines() const
{
    std::vector<std::string> lines;
    for (const auto& name : FolderEntries(logs)) {
        std::istringstream in(ReadText(logs + "/" + name));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Sandbox::ConnectionRecords() const
{
    std::vector<std::string> records;
    for (auto& line : LogLines())
        if (line.find("<EXEPATH>") != std::string::npos)
            records.push_back(std::move(line));
    return records;
}

void WriteText(const std::string& path, std::string_view text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void RemoveTree(const std::string& path)
{
    if (path.size() < 6 || path.rfind("/tmp/", 0) != 0)
        return; // never anything outside the temporary folder
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "cannot remove " << path;
}

std::string RulesDocument(std::string_view applications)
{
    return "<APPLICATIONS>" + std::string(applications) + "</APPLICATIONS>";
}

const ReadFailureCase kReadFailures[6] = {
    {ReadFailure::kPermission, "permission", "Permission denied"},
    {ReadFailure::kLinkLoop, "link loop", "loop of symbolic links"},
    {ReadFailure::kDanglingLink, "dangling link", "symbolic link whose target is missing"},
    {ReadFailure::kOverSize, "over the size limit", "larger than the limit"},
    {ReadFailure::kFifo, "FIFO", "not a regular file"},
    {ReadFailure::kOverElements, "over the elements' limit", "more than the limit of"},
};

void MakeUnreadable(const std::string& path, ReadFailure kind, const std::string& document)
{
    ::unlink(path.c_str());
    switch (kind) {
    case ReadFailure::kPermission:
        WriteText(path, document);
        ::chmod(path.c_str(), 0);
        break;
    case ReadFailure::kLinkLoop:
        ASSERT_EQ(::symlink((path + ".loop").c_str(), path.c_str()), 0);
        ::unlink((path + ".loop").c_str());
        ASSERT_EQ(::symlink(path.c_str(), (path + ".loop").c_str()), 0);
        break;
    case ReadFailure::kDanglingLink:
        // Kept on a drive that is not mounted.
        ASSERT_EQ(::symlink((path + ".drive/korvel/Rules.xml").c_str(), path.c_str()), 0);
        break;
    case ReadFailure::kOverSize: {
        const size_t close = document.rfind("</APPLICATIONS>");
        ASSERT_NE(close, std::string::npos);
        std::string padded = document.substr(0, close);
        padded.append(rules::rules_format::kMaxRulesFileBytes + 1 - document.size(), ' ');
        padded += document.substr(close);
        WriteText(path, padded);
        break;
    }
    case ReadFailure::kFifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        break;
    case ReadFailure::kOverElements: {
        const size_t close = document.rfind("</APPLICATIONS>");
        ASSERT_NE(close, std::string::npos);
        std::string padded = document.substr(0, close);
        for (size_t i = 0; i <= rules::rules_format::kMaxRulesFileElements; ++i)
            padded += "<!---->";
        padded += document.substr(close);
        WriteText(path, padded);
        break;
    }
    }
}

bool ResetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return !clear.fail();
}

long PeakMemoryKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

std::string PathState(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "nothing";
    std::string state = "mode " + std::to_string(st.st_mode) + " size " + std::to_string(st.st_size);
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        state += " link to " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (S_ISREG(st.st_mode)) {
        state += " content " + std::to_string(std::hash<std::string> {}(ReadText(path)));
    }
    return state;
}

namespace {

constexpr unsigned kOverridingCapabilities = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool Capabilities(__user_cap_data_struct (&data)[2], bool set)
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

FilePermissionsHold::FilePermissionsHold()
{
    __user_cap_data_struct data[2] {};
    if (!Capabilities(data, false) || !(data[0].effective & kOverridingCapabilities))
        return;
    effective_[0] = data[0].effective;
    effective_[1] = data[1].effective;
    data[0].effective &= ~kOverridingCapabilities;
    changed_ = Capabilities(data, true);
    EXPECT_TRUE(changed_) << "the capabilities that override file permissions cannot be given up";
}

FilePermissionsHold::~FilePermissionsHold()
{
    __user_cap_data_struct data[2] {};
    if (!changed_ || !Capabilities(data, false))
        return;
    data[0].effective = effective_[0];
    data[1].effective = effective_[1];
    Capabilities(data, true);
}

}  // namespace testing_support
