// Any bytes as a host pattern and a peer name: parsing and matching neither
// crash nor read outside the texts, and the answers hold together.
#include "engine/HostPattern.h"
#include "rules/hooksafe/Names.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\n');
    const std::string patternText = input.substr(0, split);
    const std::string nameText = split == std::string::npos ? std::string() : input.substr(split + 1);
    char name[rules::kMaxHostName + 1];
    const size_t length = rules::NormalizeHostName(nameText.data(), nameText.size(), name, sizeof name);
    const engine::HostKey key(length ? name : nullptr);
    const auto pattern = engine::HostPattern::Parse(patternText);
    if (pattern) {
        const bool matches = key.Matches(*pattern);
        // "?" and "*" split every peer between them.
        if (key.Matches(*engine::HostPattern::Parse("?")) == key.Matches(*engine::HostPattern::Parse("*")))
            __builtin_trap();
        // A name pattern matches its own name, and "*." never the domain itself.
        if (pattern->kind == engine::HostPattern::Kind::kExact) {
            const engine::HostKey own(pattern->text.c_str());
            if (!own.Matches(*pattern))
                __builtin_trap();
        }
        if (pattern->kind == engine::HostPattern::Kind::kSubdomains && matches && length == pattern->text.size())
            __builtin_trap();
    }
    if (length) {
        // A normal name is its own normal form, and names itself.
        char again[rules::kMaxHostName + 1];
        if (rules::NormalizeHostName(name, length, again, sizeof again) != length)
            __builtin_trap();
        const auto own = engine::HostPattern::Parse(std::string(name, length));
        if (!own || !key.Matches(*own))
            __builtin_trap();
    }
    return 0;
}
