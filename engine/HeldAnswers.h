#pragma once

#include "rules/AddressRange.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rules {
struct TimedAnswer;
}

namespace engine {

// One answer that covers more than the connection asked about: a peer (an
// address or a normalised host name; neither: every peer), a port (0: every
// port; the local one for incoming) and a direction, until an end.
struct HeldAnswer {
    int direction = 1;  // engine::Direction
    int permission = 0; // kPermit or kDeny
    int port = 0;
    std::optional<rules::PeerAddress> address;
    std::string host;
    int64_t until = 0; // seconds since 1970; 0: no end of its own

    // nullopt for a stored answer whose address is none.
    static std::optional<HeldAnswer> Of(const rules::TimedAnswer& answer);
};

// Answers that answer questions: what the rules would ask, never what they
// decide. The newest given covers first; an answer past its end answers
// nothing, whoever still holds it, so that the clock alone ends it.
class HeldAnswers {
public:
    // Newest first; beyond kMost the oldest gives way.
    void Add(HeldAnswer answer);
    // Appended after those held: the order of the rules file.
    void Append(HeldAnswer answer);
    // kPermit or kDeny of the first answer that covers the question; kAsk
    // (engine::kAsk) when none does. names: the peer's normalised names.
    // An Allow whose end is further away than any answer may last answers
    // nothing (a Block so far away still blocks). until (when given) gets
    // the deciding answer's end (0: none of its own).
    int Match(int direction, int port, std::string_view addressText, const char* const* names, unsigned nameCount,
              int64_t now, int64_t* until = nullptr) const;
    // The same for a peer whose address is parsed already (nullopt: no address).
    int Match(int direction, int port, const std::optional<rules::PeerAddress>& peer, const char* const* names,
              unsigned nameCount, int64_t now, int64_t* until = nullptr) const;
    bool Empty() const { return answers_.empty(); }
    size_t Size() const { return answers_.size(); }
    void Clear() { answers_.clear(); }

    static constexpr size_t kMost = 256;

private:
    std::vector<HeldAnswer> answers_;
};

}  // namespace engine
