#pragma once

#include "text/Translate.h"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string_view>

// The traffic record's words in one place: its tags, its REASON words and
// the text the log views show for each word. Every writer of records (the
// engine, zelconn, the backstop) and every reader (the control panel, the
// journal, the tools) takes them from here, so that none can write or look
// for a word the others do not know. Constants only: no allocation, no
// locale, as the engine includes it on its way to every decision.
namespace protocol {

namespace record_tag {
inline constexpr std::string_view kDate = "DATE";
inline constexpr std::string_view kTime = "TIME";
inline constexpr std::string_view kExePath = "EXEPATH";
inline constexpr std::string_view kApplication = "APPLICATION";
inline constexpr std::string_view kProtocol = "PROTOCOL";
inline constexpr std::string_view kDirection = "DIRECTION";
inline constexpr std::string_view kIp = "IP";
inline constexpr std::string_view kLocalPort = "LOCALPORT";
inline constexpr std::string_view kRemotePort = "REMOTEPORT";
inline constexpr std::string_view kPermission = "PERMISSION";
inline constexpr std::string_view kService = "SERVICE";
// After the older fields, so that readers that stop after SERVICE pass over them.
inline constexpr std::string_view kHost = "HOST";
inline constexpr std::string_view kReason = "REASON";
inline constexpr std::string_view kBackstop = "BACKSTOP"; // "1": the kernel backstop reported it
// Facts after the ones above: the host list that refused (the engine's
// records, after REASON); still to come: the resolver a name came from, the
// profile in force, the script a program ran.
inline constexpr std::string_view kList = "LIST";
inline constexpr std::string_view kResolver = "RESOLVER";
inline constexpr std::string_view kProfile = "PROFILE";
inline constexpr std::string_view kScript = "SCRIPT";
// "1": the peer is a known encrypted DNS service (names looked up through it
// are hidden from the firewall); last of the engine's records.
inline constexpr std::string_view kEncryptedDns = "ENCRYPTEDDNS";
// A program's start and end records.
inline constexpr std::string_view kApplicationStart = "APPLICATIONSTART";
inline constexpr std::string_view kApplicationEnd = "APPLICATIONEND";
}  // namespace record_tag

namespace record_detail {
inline constexpr std::string_view kOpen = "<";
inline constexpr std::string_view kOpenEnd = "</";
inline constexpr std::string_view kClose = ">";

// The parts joined once, at compile time: the writer appends "</A><B>" as
// one piece, as it did when the text was written out by hand.
template <const std::string_view&... parts>
struct Joined {
    static constexpr std::size_t kSize = (parts.size() + ...);
    static constexpr std::array<char, kSize + 1> kText = [] {
        std::array<char, kSize + 1> text {};
        std::size_t at = 0;
        for (const std::string_view part : {parts...})
            for (const char c : part)
                text[at++] = c;
        return text;
    }();
    static constexpr std::string_view kView {kText.data(), kSize};
};
}  // namespace record_detail

// "<TAG>", "</TAG>" and "</CLOSED><OPENED>" of the tags above.
template <const std::string_view& tag>
inline constexpr std::string_view kOpenTag
    = record_detail::Joined<record_detail::kOpen, tag, record_detail::kClose>::kView;
template <const std::string_view& tag>
inline constexpr std::string_view kEndTag
    = record_detail::Joined<record_detail::kOpenEnd, tag, record_detail::kClose>::kView;
template <const std::string_view& closed, const std::string_view& opened>
inline constexpr std::string_view kTagsBetween
    = record_detail::Joined<record_detail::kOpenEnd, closed, record_detail::kClose, record_detail::kOpen, opened,
                            record_detail::kClose>::kView;

// Why a connection was decided as it was: the REASON of its record.
// Plain lower-case letters, written as they are.
namespace log_reason {
inline constexpr const char* kRule = "rule";             // an entry of the program's rules
inline constexpr const char* kDefault = "default";       // the program's default for the direction
inline constexpr const char* kBlockAll = "blockall";     // Block All was on
inline constexpr const char* kPeer = "peer";             // a datagram peer permitted before
inline constexpr const char* kAnswer = "answer";         // the user's answer in the alert
inline constexpr const char* kRemembered = "remembered"; // an answer given earlier for all of it, or for the host
inline constexpr const char* kTimeout = "timeout";       // nobody answered the alert in time
inline constexpr const char* kAway = "away";             // nobody was at the screen: the away answer
inline constexpr const char* kNoAlert = "noalert";       // the alert could not be shown or ended unanswered
inline constexpr const char* kService = "service";       // a service is never asked: denied
inline constexpr const char* kRuntime = "runtime";       // the runtime folder cannot be trusted: denied
// A host list refused it (the record's LIST names the list).
inline constexpr const char* kList = "list";
// Reserved for what comes: a quiet mode decided what would have been asked;
// the learning mode allowed and remembered it.
inline constexpr const char* kQuiet = "quiet";
inline constexpr const char* kLearn = "learn";
}  // namespace log_reason

// A REASON word and what the log views show for it: the English text, put
// into the user's language with text::Tr(kReasonTextContext, text).
struct ReasonWord {
    std::string_view word;
    const char* text;
};

inline constexpr const char* kReasonTextContext = "LogReader";

inline constexpr ReasonWord kReasonWords[] = {
    {log_reason::kRule, ZEL_TEXT_NOOP("LogReader", "Rule")},
    {log_reason::kDefault, ZEL_TEXT_NOOP("LogReader", "Default")},
    {log_reason::kBlockAll, ZEL_TEXT_NOOP("LogReader", "Block All")},
    {log_reason::kPeer, ZEL_TEXT_NOOP("LogReader", "Reply to an allowed peer")},
    {log_reason::kAnswer, ZEL_TEXT_NOOP("LogReader", "Your answer")},
    {log_reason::kRemembered, ZEL_TEXT_NOOP("LogReader", "Earlier answer")},
    {log_reason::kTimeout, ZEL_TEXT_NOOP("LogReader", "Time-out")},
    {log_reason::kAway, ZEL_TEXT_NOOP("LogReader", "Away answer")},
    {log_reason::kNoAlert, ZEL_TEXT_NOOP("LogReader", "No alert shown")},
    {log_reason::kService, ZEL_TEXT_NOOP("LogReader", "Service, never asked")},
    {log_reason::kRuntime, ZEL_TEXT_NOOP("LogReader", "Runtime folder not safe")},
    {log_reason::kList, ZEL_TEXT_NOOP("LogReader", "Host list")},
    {log_reason::kQuiet, ZEL_TEXT_NOOP("LogReader", "Quiet mode")},
    {log_reason::kLearn, ZEL_TEXT_NOOP("LogReader", "Learning mode")},
};

// What a record of the backstop without a REASON was decided by.
inline constexpr const char* kBackstopReasonText = ZEL_TEXT_NOOP("LogReader", "Kernel backstop");

// The table's row of a word; null for a word it does not know (a newer
// writer's, or none), which readers show as it is.
constexpr const ReasonWord* FindReasonWord(std::string_view word)
{
    for (const ReasonWord& row : kReasonWords)
        if (row.word == word)
            return &row;
    return nullptr;
}

}  // namespace protocol
