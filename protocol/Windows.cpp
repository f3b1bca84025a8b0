#include "protocol/Windows.h"

#include "os/Files.h"
#include "os/Net.h"
#include "os/Paths.h"
#include "os/hooksafe/Retry.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace protocol::windows {

namespace net = os::net;

namespace {

struct WireMessage {
    uint32_t message;
    uint32_t wParam;
    int64_t lParam;
};

std::string WindowsFolder() { return os::RuntimePath("windows"); }

std::string ChildPath(const std::string& window, size_t index, const char* suffix)
{
    return window + "/child." + std::to_string(index) + suffix;
}

// The owner holds an exclusive lock on the window's lock file for as long as
// it lives; a lock we can take means the owner is gone.
bool IsOwnerAlive(const std::string& window)
{
    const int fd = ::open((window + "/lock").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool alive = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return alive;
}

void RemoveFolder(const std::string& folder)
{
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ::unlink((folder + "/" + entry->d_name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(folder.c_str());
}

// Registrations whose owner is gone (it crashed, or was killed) are removed,
// so that a later process given the same id can register.
void RemoveAbandoned(const std::string& base)
{
    DIR* dir = ::opendir(base.c_str());
    if (!dir)
        return;
    std::vector<std::string> abandoned;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const std::string folder = base + "/" + entry->d_name;
        // One still being built has no lock yet: its maker's process id tells.
        const bool building = std::strncmp(entry->d_name, ".new.", 5) == 0;
        const bool gone = building ? ::kill(static_cast<pid_t>(std::atol(entry->d_name + 5)), 0) != 0 && errno == ESRCH
                                   : !IsOwnerAlive(folder);
        if (gone)
            abandoned.push_back(folder);
    }
    ::closedir(dir);
    for (const auto& folder : abandoned)
        RemoveFolder(folder);
}

}  // namespace

int64_t MakeCodedParam(uint16_t code, uint32_t argument)
{
    const uint64_t high = static_cast<uint64_t>(argument >> 16) << 32;
    return static_cast<int64_t>(high | (static_cast<uint64_t>(code) << 16) | (argument & 0xFFFFu));
}

uint16_t ParamCode(int64_t lParam) { return static_cast<uint16_t>((static_cast<uint64_t>(lParam) >> 16) & 0xFFFFu); }

uint32_t ParamArgument(int64_t lParam)
{
    const auto bits = static_cast<uint64_t>(lParam);
    return static_cast<uint32_t>((bits & 0xFFFFu) | (((bits >> 32) & 0xFFFFu) << 16));
}

std::unique_ptr<Window> Window::Register(std::string_view title, const std::vector<std::string>& childClasses)
{
    static std::atomic<unsigned> sequence {0};
    const std::string base = WindowsFolder();
    if (base.empty() || !os::MakeDirectories(base, 0700))
        return nullptr;
    RemoveAbandoned(base);
    const std::string id = std::to_string(::getpid()) + "." + std::to_string(sequence.fetch_add(1));
    const std::string building = base + "/.new." + id;
    std::unique_ptr<Window> window(new Window());
    window->folder_ = building;
    if (::mkdir(building.c_str(), 0700) != 0)
        return nullptr;
    window->lockFd_ = ::open((building + "/lock").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (window->lockFd_ < 0 || ::flock(window->lockFd_, LOCK_EX | LOCK_NB) != 0)
        return nullptr;
    if (!os::WriteFileAtomically(building + "/title", title, 0600))
        return nullptr;
    for (size_t i = 0; i < childClasses.size(); ++i) {
        if (!os::WriteFileAtomically(ChildPath(building, i, ".class"), childClasses[i], 0600)
            || !os::WriteFileAtomically(ChildPath(building, i, ".text"), "", 0600))
            return nullptr;
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return nullptr;
        window->sockets_.push_back(fd);
        sockaddr_un address {};
        // The socket is bound under its final name's folder length: check that one.
        if (!net::UnixSocketAddress(ChildPath(base + "/" + id, i, ".sock"), address) || !net::UnixSocketAddress(ChildPath(building, i, ".sock"), address)
            || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return nullptr;
    }
    // Appear whole: finders never see a window that is still being built.
    const std::string final = base + "/" + id;
    if (::rename(building.c_str(), final.c_str()) != 0)
        return nullptr;
    window->folder_ = final;
    return window;
}

Window::~Window()
{
    for (int fd : sockets_)
        ::close(fd);
    if (!folder_.empty())
        RemoveFolder(folder_);
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

std::string Window::ChildHandle(size_t index) const
{
    return index < sockets_.size() ? ChildPath(folder_, index, "") : std::string();
}

int Window::ChildSocket(size_t index) const { return index < sockets_.size() ? sockets_[index] : -1; }

std::vector<std::string> FindWindows(std::string_view title)
{
    struct Found {
        time_t created;
        std::string folder;
    };
    std::vector<Found> found;
    const std::string base = WindowsFolder();
    DIR* dir = base.empty() ? nullptr : ::opendir(base.c_str());
    if (!dir)
        return {};
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string folder = base + "/" + entry->d_name;
        const auto text = os::ReadFile(folder + "/title", 4096, false);
        if (!text || *text != title || !IsOwnerAlive(folder))
            continue;
        struct stat st {};
        ::stat((folder + "/lock").c_str(), &st);
        found.push_back({st.st_mtime, folder});
    }
    ::closedir(dir);
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.created < b.created; });
    std::vector<std::string> handles;
    for (auto& item : found)
        handles.push_back(std::move(item.folder));
    return handles;
}

std::string FindWindow(std::string_view title)
{
    auto windows = FindWindows(title);
    return windows.empty() ? std::string() : windows.front();
}

std::string FindChildWindow(const std::string& parent, std::string_view className)
{
    if (parent.empty())
        return {};
    for (size_t i = 0;; ++i) {
        const auto text = os::ReadFile(ChildPath(parent, i, ".class"), 4096, false);
        if (!text)
            return {};
        if (*text == className)
            return ChildPath(parent, i, "");
    }
}

bool PostMessage(const std::string& child, uint32_t message, uint32_t wParam, int64_t lParam, std::string_view data)
{
    sockaddr_un address {};
    if (child.empty() || data.size() > kMaxMessageData || !net::UnixSocketAddress(child + ".sock", address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    char datagram[sizeof(WireMessage) + kMaxMessageData];
    const WireMessage wire {message, wParam, lParam};
    std::memcpy(datagram, &wire, sizeof wire);
    if (!data.empty())
        std::memcpy(datagram + sizeof wire, data.data(), data.size());
    const size_t length = sizeof wire + data.size();
    const ssize_t sent = ::sendto(fd, datagram, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    return sent == static_cast<ssize_t>(length);
}

std::optional<Message> ReceiveMessage(int socket)
{
    // One byte more than the longest message, so that a longer one shows as
    // cut short (MSG_TRUNC gives its real size) and is dropped.
    char datagram[sizeof(WireMessage) + kMaxMessageData + 1];
    for (;;) {
        const ssize_t n = os::RetryOnInterrupt([&] { return ::recv(socket, datagram, sizeof datagram, MSG_DONTWAIT | MSG_TRUNC); });
        if (n < 0)
            return std::nullopt;
        if (n >= static_cast<ssize_t>(sizeof(WireMessage)) && n <= static_cast<ssize_t>(sizeof datagram - 1)) {
            WireMessage wire {};
            std::memcpy(&wire, datagram, sizeof wire);
            return Message {wire.message, wire.wParam, wire.lParam,
                            std::string(datagram + sizeof wire, static_cast<size_t>(n) - sizeof wire)};
        }
        // Too short or too long to be ours: drop it and look at the next.
    }
}

bool SetWindowText(const std::string& child, std::string_view text)
{
    return !child.empty() && os::WriteFileAtomically(child + ".text", text, 0600, false);
}

std::optional<std::string> GetWindowText(const std::string& child)
{
    if (child.empty())
        return std::nullopt;
    return os::ReadFile(child + ".text", 1 << 20, false);
}

}  // namespace protocol::windows
