#include "Sandbox.h"

#include "platform/Files.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

using platform::registry::RootKey;

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
    ASSERT_TRUE(platform::registry::SetString(RootKey::LocalMachine, platform::registry::kSettingsKey, name, text));
}

void Sandbox::DeleteSetting(std::string_view name) const
{
    platform::registry::DeleteValue(RootKey::LocalMachine, platform::registry::kSettingsKey, name);
}

void Sandbox::SetAutostart(bool present) const
{
    using namespace platform::registry;
    if (present)
        SetString(RootKey::LocalMachine, kRunKey, kAutostartValue, "/usr/local/bin/zel");
    else
        DeleteValue(RootKey::LocalMachine, kRunKey, kAutostartValue);
}

void Sandbox::WriteRules(std::string_view document) const { WriteText(rulesFile, document); }

void Sandbox::InstallPanel(std::string_view portsList) const
{
    const std::string install = root + "/install/";
    platform::MakeDirectories(install);
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

int WithTinyDisk(const std::string& folder, const char* size, const std::function<bool()>& fn)
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
        const std::string options = std::string("size=") + size;
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("none", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
            ::_exit(77);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

}  // namespace testing_support
