#pragma once

#include "rules/Words.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rules {

// The longest an answer for a time may last: a week.
inline constexpr int kMaxTimedAnswerMinutes = 7 * 24 * 60;

// The furthest end an answer may have from now: the longest length the
// options offer, and a minute for the clocks of the engine that sent it and
// the reader that compares it.
inline constexpr int64_t kLongestAnswerSeconds = int64_t {60} * kMaxTimedAnswerMinutes + 60;

// An answer the user gave for a time (the application's TIMED): it answers
// the questions it covers, those the rules would ask, until its end.
struct TimedAnswer {
    Direction direction = Direction::kOutgoing;
    Permission permission = Permission::kDeny; // kPermit or kDeny
    int64_t until = 0;                         // seconds since 1970 UTC; at and after it, nothing
    int port = 0;                              // 0: every port (the local one for incoming)
    // The peer: an address (IP), or for outgoing answers a normalised host
    // name (HOST); both empty: every peer.
    std::string address;
    std::string host;

    bool EndedAt(int64_t now) const { return now >= until; }
    // Further away than any answer the user could have given now (a file
    // written by hand, a clock set back): such an Allow answers nothing.
    bool LongerThanAllowedAt(int64_t now) const { return until - now > kLongestAnswerSeconds; }
    bool operator==(const TimedAnswer&) const = default;
};

}  // namespace rules

namespace rules {

// An alert's answer as the engine sends it to the control panel (one line:
// "DIRECTION PERMISSION UNTIL PORT ADDRESS HOST", "-" for an empty peer
// part), where an UNTIL of 0 means always. nullopt for a text that is not
// one, or that names both an address and a host.
std::string AnswerText(const TimedAnswer& answer);
std::optional<TimedAnswer> AnswerOfText(std::string_view text);

}  // namespace rules
