#pragma once

#include "protocol/RecordWords.h"

#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The log files the engine writes and the control panel reads and cleans up:
// their names, the traffic record's format and how it is read back.
//
// Traffic log: "<folder>/<day>_<month>_<year>_qrb.log", one record per line:
//   <DATE>d</DATE><TIME>t</TIME><EXEPATH>p</EXEPATH><APPLICATION>a</APPLICATION>
//   <PROTOCOL>1</PROTOCOL><DIRECTION>0</DIRECTION><IP>i</IP><LOCALPORT>n</LOCALPORT>
//   <REMOTEPORT>n</REMOTEPORT><PERMISSION>n</PERMISSION><SERVICE>0</SERVICE>
//   [<HOST>name</HOST>][<REASON>why</REASON>]\r\n
// (HOST and REASON come after the older fields, so that readers that look
// fields up by tag, or stop after SERVICE, pass over them.) The tags and
// REASON words are RecordWords'.
// or a program's start or end:
//   <DATE>d</DATE><TIME>t</TIME><APPLICATIONSTART>p</APPLICATIONSTART>\r\n
// Texts between tags are escaped (EscapeLogText).
//
// Error log: "<folder>/<day>_<month>_<year>_err.LOG", one line per error:
//   date ":" time " " label " : " description\r\n
namespace protocol {

// A program's start and end records' tags (null-terminated, as the engine's
// bookkeeping of them compares them).
inline constexpr const char* kApplicationStartTag = record_tag::kApplicationStart.data();
inline constexpr const char* kApplicationEndTag = record_tag::kApplicationEnd.data();

std::string TrafficLogFileName(const std::string& folder, std::time_t when);
std::string ErrorLogFileName(const std::string& folder, std::time_t when);
std::string TrafficLogFileName(const std::string& folder, const std::tm& local);

// Whether a file name is one of the daily files above (a date that exists,
// without leading zeros), so that clean-ups never touch anything else.
bool IsTrafficLogFileName(std::string_view name);
bool IsErrorLogFileName(std::string_view name);

std::string ErrorLogLine(std::string_view label, std::string_view description, std::time_t when);

// "<DATE>..</DATE><TIME>..</TIME>" of a local time.
std::string RecordStamp(const std::tm& local);

// A record's text, built on the stack while it fits: the engine makes one for
// every connection decided, and a formatted print or a heap allocation would
// cost more than the rest of the decision.
class RecordText {
public:
    void Append(std::string_view text)
    {
        if (overflow_.empty() && size_ + text.size() <= sizeof inline_) {
            std::memcpy(inline_ + size_, text.data(), text.size());
            size_ += text.size();
        } else {
            Spill(text);
        }
    }
    void AppendNumber(long long value);
    std::string_view View() const { return overflow_.empty() ? std::string_view(inline_, size_) : overflow_; }

private:
    void Spill(std::string_view text);

    char inline_[1024];
    size_t size_ = 0;
    std::string overflow_;
};

struct ConnectionRecord {
    const std::string* head; // ConnectionRecordHead of the carrier
    int protocol;
    int direction;
    const char* remoteAddress;
    unsigned localPort;
    unsigned remotePort;
    int permission;
    bool service;
    const char* hostName = nullptr; // normalised; null when the program did not look the peer up
    const char* reason = nullptr;   // one of log_reason; null: none written
    const char* list = nullptr;     // the host list that refused it; null or empty: none
};

// The part of a connection record that is the same for every connection of
// a program: made once. Both texts are escaped already.
std::string ConnectionRecordHead(const std::string& exePathForLog, const std::string& descriptionForLog);
// The body of a connection record (without date and time); the remote
// address is escaped here.
void FormatConnectionBody(const ConnectionRecord& record, RecordText& body);
// The body of a program's start or end record.
std::string CarrierEventBody(const char* tag, const std::string& exePathForLog);

// One line of a traffic log, read back with its texts unescaped.
struct LogEntry {
    enum class Kind { kConnection, kApplicationStart, kApplicationEnd };
    Kind kind = Kind::kConnection;
    std::string date;
    std::string time;
    std::string exePath;
    std::string application;
    std::string protocol;
    std::string direction;
    std::string ip;
    std::string localPort;
    std::string remotePort;
    std::string permission;
    std::string service;
    std::string host; // the name the program looked the peer up as; empty when not known
    std::string reason; // log_reason's word; empty in records of older engines
    std::string list;   // the host list that refused it; empty: none
    // Fields a writer put after the ones above (such as the backstop's
    // BACKSTOP), in their order: tag and text.
    std::vector<std::pair<std::string, std::string>> others;
};

// nullopt for a line that is not a record (an empty or blanked-out line).
std::optional<LogEntry> ParseLogLine(std::string_view line);

// The "<NAME>value</NAME>" at the front of rest: its name and its value as
// written (escaped), rest moved past it. False when rest does not begin
// with one. Every reader of the records walks them with this.
bool NextLogTag(std::string_view& rest, std::string_view& name, std::string_view& value);

}  // namespace protocol
