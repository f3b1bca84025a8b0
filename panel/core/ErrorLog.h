#pragma once

#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace panel {

// The control panel's error log. Errors never reach the caller: each
// procedure writes one line with its label ("AppBuffer : LoadRules") and
// returns what it has.

// The day's error log, opened once at start-up and kept open. Lines written
// before it is opened are kept and written when it is, so that nothing said
// during start-up is lost.
class ErrorLog {
public:
    using MessageBox = std::function<void(const std::string& text)>;

    ErrorLog() = default;
    ~ErrorLog() { Close(); }
    ErrorLog(const ErrorLog&) = delete;
    ErrorLog& operator=(const ErrorLog&) = delete;

    // Opens "<folder>/<day>_<month>_<year>_err.LOG" for appending, creating
    // it; false when it cannot (errors are then only shown, if at all).
    bool Open(const std::string& folder, std::time_t now);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // With "DebugPrint" "1" every error is also shown through the message box.
    void SetDebugPrint(bool on) { debugPrint_ = on; }
    void SetMessageBox(MessageBox show) { messageBox_ = std::move(show); }

    void Write(std::string_view procName, std::string_view description);

private:
    void Append(const std::string& line);

    int fd_ = -1;
    std::string path_;
    bool debugPrint_ = false;
    MessageBox messageBox_;
    std::deque<std::string> pending_;
};

// The control panel's one error log.
ErrorLog& TheErrorLog();

// The one way a procedure reports its error.
void WriteErrLog(std::string_view procName, std::string_view description);
// The same with the text of errno after what failed.
void WriteErrLogErrno(std::string_view procName, std::string_view what, int error);

}  // namespace panel
