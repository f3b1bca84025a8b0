#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// A private instance of everything the system touches: a fresh folder with
// its own settings store, runtime folder, log folder, rules file and XDG
// folders, set through the environment for the life of the object.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    std::string root;
    std::string registry;
    std::string runtime;
    std::string logs;
    std::string rulesFile;

    void SetSetting(std::string_view name, std::string_view text) const;
    void DeleteSetting(std::string_view name) const;
    // The autostart value: present means the firewall is meant to run.
    void SetAutostart(bool present) const;
    void WriteRules(std::string_view document) const;
    // The settings a panel window starts with, and an installation folder
    // ("VRNFolder") holding the given ports list.
    void InstallPanel(std::string_view portsList) const;

    // Every line of every traffic log file, files in name order.
    std::vector<std::string> LogLines() const;
    // Lines holding a connection record.
    std::vector<std::string> ConnectionRecords() const;
};

void WriteText(const std::string& path, std::string_view text);
// The names in a folder, hidden ones left out, in name order.
std::vector<std::string> FolderEntries(const std::string& folder);
std::string ReadText(const std::string& path);
void RemoveTree(const std::string& path);

// Runs fn in a child process with a file system of its own in which folder
// is a tmpfs of the given size ("8k"): 0 when fn succeeded, 1 when it did
// not, 77 when no such file system could be made (no user namespaces, no root).
int WithTinyDisk(const std::string& folder, const char* size, const std::function<bool()>& fn);
// The same with a /tmp of its own (the machine's is never touched) in which
// keep, a folder directly in /tmp (a sandbox's root), is still the one outside.
int WithPrivateTmp(const std::string& keep, const std::function<bool()>& fn);

// Moves this process (and what it starts from now on) into a network
// namespace of its own: its loopback up, with the given IPv6 addresses on it
// besides ::1. As root, or else from a user namespace of its own, which the
// kernel grants only to a process of one thread. false, why saying why, when
// it cannot.
bool EnterPrivateNetwork(const std::vector<std::string>& ipv6Addresses, std::string& why);

// A process table of its own in a folder, laid out as /proc is.
class FakeProcessTable {
public:
    explicit FakeProcessTable(std::string folder);
    const std::string& Root() const { return root_; }
    // A process with its parent and executable (empty: one that cannot be
    // examined); service: started by the service manager as a system service.
    void Add(int pid, int parent, const std::string& exe, bool service = false) const;

private:
    std::string root_;
};

// A rules document with the given APPLICATION elements.
std::string RulesDocument(std::string_view applications);

// The ways a rules file fails to be read that every reader must tell from a
// missing file and from one that does not parse.
enum class ReadFailure { kPermission, kLinkLoop, kDanglingLink, kOverSize, kFifo, kOverElements };
struct ReadFailureCase {
    ReadFailure kind;
    const char* name;
    const char* reason; // a part of the reason a reader gives
};
extern const ReadFailureCase kReadFailures[6];
// Puts what fails so at path in place of the file there, which holds
// document (over the size limit: document padded with blanks; over the
// elements' limit: with comments, which change nothing else). Whatever
// else it needs lives beside path.
void MakeUnreadable(const std::string& path, ReadFailure kind, const std::string& document);
// What is at path, to compare before and after: its type, a link's target
// and a regular file's content.
std::string PathState(const std::string& path);

// This process's peak resident memory in kB since the last ResetPeakMemory
// (VmHWM); ResetPeakMemory is false when the kernel cannot reset it.
bool ResetPeakMemory();
long PeakMemoryKb();

// For the life of the object the calling thread is held to the file
// permissions as a user without privileges is (root gives up the
// capabilities that override them); nothing changes for other users.
class FilePermissionsHold {
public:
    FilePermissionsHold();
    ~FilePermissionsHold();
    FilePermissionsHold(const FilePermissionsHold&) = delete;
    FilePermissionsHold& operator=(const FilePermissionsHold&) = delete;

private:
    unsigned effective_[2] = {0, 0};
    bool changed_ = false;
};

}  // namespace testing_support
