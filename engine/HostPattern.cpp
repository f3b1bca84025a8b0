#include "engine/HostPattern.h"

#include "rules/HostPatterns.h"
#include "rules/hooksafe/Names.h"

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

// FNV-1a over the text from its end: the hash of every suffix falls out of
// one pass over a name, and a pattern's domain hashes the same way.
constexpr uint64_t kOffset = 14695981039346656037ull;
constexpr uint64_t kPrime = 1099511628211ull;

uint64_t Step(uint64_t hash, char c) { return (hash ^ static_cast<unsigned char>(c)) * kPrime; }

uint64_t HashFromEnd(std::string_view text)
{
    uint64_t hash = kOffset;
    for (size_t i = text.size(); i-- > 0;)
        hash = Step(hash, text[i]);
    return hash;
}

uint8_t Labels(std::string_view text) { return static_cast<uint8_t>(1 + std::count(text.begin(), text.end(), '.')); }

}  // namespace

std::optional<HostPattern> HostPattern::Parse(std::string_view text)
{
    const auto normal = rules::NormalizeHostPattern(text);
    if (!normal)
        return std::nullopt;
    HostPattern pattern;
    std::string_view name = *normal;
    if (name == "?") {
        pattern.kind = Kind::kUnknown;
        return pattern;
    }
    if (name == "*") {
        pattern.kind = Kind::kAnyKnown;
        return pattern;
    }
    if (name.substr(0, 2) == "*.") {
        pattern.kind = Kind::kSubdomains;
        name.remove_prefix(2);
    }
    pattern.text = std::string(name);
    pattern.labels = Labels(pattern.text);
    pattern.hash = HashFromEnd(pattern.text);
    return pattern;
}

HostKey::HostKey(const char* name)
{
    if (!name)
        return;
    const size_t length = strnlen(name, rules::kMaxHostName + 1);
    if (length == 0 || length > rules::kMaxHostName)
        return;
    name_ = name;
    length_ = length;
    uint64_t hash = kOffset;
    suffixHash_[0] = hash;
    suffixStart_[0] = static_cast<uint16_t>(length);
    for (size_t i = length; i-- > 0;) {
        if (name[i] == '.') {
            // The label that ends here is whole: the suffix after the dot.
            if (labels_ < kMaxLabels) {
                ++labels_;
                suffixHash_[labels_] = hash;
                suffixStart_[labels_] = static_cast<uint16_t>(i + 1);
            }
        }
        hash = Step(hash, name[i]);
    }
    if (labels_ < kMaxLabels) {
        ++labels_;
        suffixHash_[labels_] = hash;
        suffixStart_[labels_] = 0;
    }
}

bool HostKey::Matches(const HostPattern& pattern) const
{
    switch (pattern.kind) {
    case HostPattern::Kind::kUnknown:
        return !Known();
    case HostPattern::Kind::kAnyKnown:
        return Known();
    case HostPattern::Kind::kExact:
        return Known() && labels_ == pattern.labels && suffixHash_[labels_] == pattern.hash
            && length_ == pattern.text.size() && std::memcmp(name_, pattern.text.data(), length_) == 0;
    case HostPattern::Kind::kSubdomains: {
        if (!Known() || labels_ <= pattern.labels || suffixHash_[pattern.labels] != pattern.hash)
            return false;
        // Confirmed byte for byte: a crafted name with the same hash fails here.
        const size_t start = suffixStart_[pattern.labels];
        return length_ - start == pattern.text.size()
            && std::memcmp(name_ + start, pattern.text.data(), pattern.text.size()) == 0;
    }
    }
    return false;
}

}  // namespace engine
