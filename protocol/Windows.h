#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Windows that other processes reach: a window registers its title and the
// class names of its children in the runtime folder; each child has a
// datagram socket (its message queue) and a text file (its window text).
// A handle is the registration's path; the empty text is "no window".
namespace protocol::windows {

inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;

struct Message {
    uint32_t message = 0;
    uint32_t wParam = 0;
    int64_t lParam = 0;
    std::string data; // bytes that travelled with the message, at most kMaxMessageData
};

// A message may carry a few bytes, as a copy-data message does; a receiver
// that expects none ignores them.
inline constexpr size_t kMaxMessageData = 512;

// lParam of a coded message: the code in bits 16..31 and the argument's low 16
// bits in bits 0..15, as receivers expect; process ids need more than 16 bits
// here, so the rest of the argument rides in bits 32..63.
int64_t MakeCodedParam(uint16_t code, uint32_t argument);
uint16_t ParamCode(int64_t lParam);
uint32_t ParamArgument(int64_t lParam);

class Window {
public:
    // Registers a top-level window; nullptr when the runtime folder cannot hold it.
    static std::unique_ptr<Window> Register(std::string_view title, const std::vector<std::string>& childClasses);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    const std::string& Handle() const { return folder_; }
    std::string ChildHandle(size_t index) const;
    // The child's message queue: readable when a message waits (non-blocking).
    int ChildSocket(size_t index) const;

private:
    Window() = default;
    std::string folder_;
    int lockFd_ = -1;
    std::vector<int> sockets_;
};

// Live top-level windows titled exactly title, oldest first.
std::vector<std::string> FindWindows(std::string_view title);
std::string FindWindow(std::string_view title);
// The first child of the class, or "".
std::string FindChildWindow(const std::string& parent, std::string_view className);

// Queues one message without waiting; false when it could not be queued
// (no such window, a full queue, data over kMaxMessageData), and the message
// is then lost.
bool PostMessage(const std::string& child, uint32_t message, uint32_t wParam, int64_t lParam,
                 std::string_view data = {});
// Takes the next message from a child's socket, nullopt when none waits.
std::optional<Message> ReceiveMessage(int socket);

bool SetWindowText(const std::string& child, std::string_view text);
std::optional<std::string> GetWindowText(const std::string& child);

}  // namespace protocol::windows
