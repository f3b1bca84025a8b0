#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Host names in rules: a rule's port may name the hosts it covers instead of
// (or beside) addresses. A pattern is a name ("mail.example.org"), the
// names under a domain ("*.example.org": one or more labels before it, not
// the domain itself), any name the program looked up ("*"), or a peer whose
// name the program never looked up ("?").
namespace engine {

struct HostPattern {
    enum class Kind : uint8_t { kExact, kSubdomains, kAnyKnown, kUnknown };
    Kind kind = Kind::kExact;
    uint8_t labels = 0;  // labels of the name, or of the domain under "*."
    uint64_t hash = 0;   // of the name or the domain
    std::string text;    // the name or the domain, normalised

    // Case, a trailing dot and blanks around it do not count; nullopt for
    // anything else that is not one of the four forms (a '*' elsewhere, an
    // address, a character no host name has, over 253 characters).
    static std::optional<HostPattern> Parse(std::string_view text);
};

// A normalised peer name taken apart once per decision: where each suffix
// of whole labels starts and its hash, so that every pattern costs a
// comparison or two. Lives on the stack; allocates nothing.
class HostKey {
public:
    // name: normalised (rules::NormalizeHostName), or null or empty when
    // the program never looked the peer up.
    explicit HostKey(const char* name);

    bool Known() const { return length_ != 0; }
    bool Matches(const HostPattern& pattern) const;
    // How many labels the name has, and the hash of its last k (1..Labels()).
    size_t Labels() const { return labels_; }
    uint64_t SuffixHash(size_t k) const { return suffixHash_[k]; }

private:
    static constexpr size_t kMaxLabels = 127; // 253 characters hold at most 127 labels
    const char* name_ = nullptr;
    size_t length_ = 0;
    size_t labels_ = 0;
    uint64_t suffixHash_[kMaxLabels + 1]; // [k]: the last k labels
    uint16_t suffixStart_[kMaxLabels + 1];
};

}  // namespace engine
