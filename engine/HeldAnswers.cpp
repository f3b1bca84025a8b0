#include "engine/HeldAnswers.h"

#include "engine/RuleTable.h"
#include "rules/TimedAnswer.h"

#include <cstring>

namespace engine {

std::optional<HeldAnswer> HeldAnswer::Of(const rules::TimedAnswer& answer)
{
    HeldAnswer held;
    held.direction = answer.direction == rules::Direction::kIncoming ? kIncoming : kOutgoing;
    held.permission = answer.permission == rules::Permission::kPermit ? kPermit : kDeny;
    held.port = answer.port;
    held.until = answer.until;
    if (!answer.address.empty()) {
        held.address = rules::ParseAddress(answer.address);
        if (!held.address)
            return std::nullopt;
    } else if (!answer.host.empty()) {
        // An incoming peer has no name: such an answer covers nothing.
        if (held.direction == kIncoming)
            return std::nullopt;
        held.host = answer.host;
    }
    return held;
}

void HeldAnswers::Add(HeldAnswer answer)
{
    if (answers_.size() >= kMost)
        answers_.pop_back();
    answers_.insert(answers_.begin(), std::move(answer));
}

void HeldAnswers::Append(HeldAnswer answer)
{
    if (answers_.size() < kMost)
        answers_.push_back(std::move(answer));
}

int HeldAnswers::Match(int direction, int port, std::string_view addressText, const char* const* names,
                       unsigned nameCount, int64_t now, int64_t* until) const
{
    return answers_.empty() ? kAsk
                            : Match(direction, port, rules::ParseAddress(addressText), names, nameCount, now, until);
}

int HeldAnswers::Match(int direction, int port, const std::optional<rules::PeerAddress>& peer,
                       const char* const* names, unsigned nameCount, int64_t now, int64_t* until) const
{
    if (answers_.empty())
        return kAsk;
    direction = direction == kIncoming ? kIncoming : kOutgoing;
    for (const HeldAnswer& answer : answers_) {
        if (answer.direction != direction || (answer.port != 0 && answer.port != port))
            continue;
        if (answer.until != 0
            && (now >= answer.until
                || (answer.permission == kPermit && answer.until - now > rules::kLongestAnswerSeconds)))
            continue;
        if (answer.address) {
            if (!peer || !(*peer == *answer.address))
                continue;
        } else if (!answer.host.empty()) {
            bool named = false;
            for (unsigned i = 0; names && i < nameCount && !named; ++i)
                named = names[i] && answer.host == names[i];
            if (!named)
                continue;
        }
        if (until)
            *until = answer.until;
        return answer.permission;
    }
    return kAsk;
}

}  // namespace engine
