#include "engine/RuleTable.h"

#include "engine/RulesReader.h"

#include "platform/Descriptors.h"
#include "platform/RulesFile.h"
#include "platform/RulesFormat.h"
#include "platform/Text.h"
#include "rules/DocumentReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace engine {

namespace rf = platform::rules_format;

std::optional<uint32_t> ParseIpv4(std::string_view text)
{
    uint32_t value = 0;
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        uint32_t part = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (++digits > 4)
                return std::nullopt;
            part = part * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
        }
        if (digits == 0)
            return std::nullopt;
        value = (value << 8) + part; // a part above 255 carries into the next, mod 2^32
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
    }
    if (i != text.size())
        return std::nullopt;
    return value;
}

bool RuleTable::AddEntry(int port, int direction, int permission, const char* addressText)
{
    RuleEntry entry;
    entry.port = port;
    entry.direction = direction;
    entry.permission = permission;
    if (addressText) {
        const std::string_view text = addressText;
        const size_t dash = text.find('-');
        const auto first = ParseIpv4(platform::TrimBlanks(text.substr(0, dash)));
        const auto last = dash == std::string_view::npos ? first : ParseIpv4(platform::TrimBlanks(text.substr(dash + 1)));
        if (!first || !last)
            return false;
        entry.addressRanges.emplace(*last, *first);
    }
    addressesByPort_[PortKey(direction, port)].push_back(static_cast<uint32_t>(entries.size()));
    entries.push_back(std::move(entry));
    return true;
}

bool RuleTable::AddHostEntry(int port, int direction, int permission, std::string_view pattern)
{
    auto parsed = HostPattern::Parse(pattern);
    if (!parsed)
        return false;
    RuleEntry entry;
    entry.port = port;
    entry.direction = direction;
    entry.permission = permission;
    entry.host = std::move(*parsed);
    const auto index = static_cast<uint32_t>(entries.size());
    if (entry.host->kind == HostPattern::Kind::kExact || entry.host->kind == HostPattern::Kind::kSubdomains)
        hostsByHash_[entry.host->hash].push_back(index);
    else
        anyHostEntries_.push_back(index);
    entries.push_back(std::move(entry));
    ++hostEntries_;
    return true;
}

void RuleTable::Clear()
{
    entries.clear();
    addressesByPort_.clear();
    hostsByHash_.clear();
    anyHostEntries_.clear();
    hostEntries_ = 0;
    defaultIncoming = kAsk;
    defaultOutgoing = kAsk;
}

namespace {

bool Covers(const RuleEntry& entry, int direction, int port)
{
    return entry.direction == direction && (entry.port == port || entry.port == 0);
}

bool AddressMatches(const RuleEntry& entry, const std::optional<uint32_t>& value)
{
    if (entry.addressRanges.empty())
        return true;
    // An address that is not IPv4 (an IPv6 peer) never falls in a range.
    if (!value)
        return false;
    const auto range = entry.addressRanges.lower_bound(*value);
    return range != entry.addressRanges.end() && range->second <= *value;
}

}  // namespace

int RuleTable::MatchRules(int direction, int port, std::string_view addressText, const HostKey* name) const
{
    return name ? MatchRules(direction, port, addressText, std::span<const HostKey>(name, 1), nullptr)
                : MatchRules(direction, port, addressText, std::span<const HostKey>(), nullptr);
}

int RuleTable::MatchRules(int direction, int port, std::string_view addressText, std::span<const HostKey> names,
                          int* matchedName) const
{
    const std::optional<uint32_t> value = ParseIpv4(addressText);
    const int fallback = direction != kIncoming ? defaultOutgoing : defaultIncoming;
    if (matchedName)
        *matchedName = -1;
    // The first host entry that any of the names matches, found through
    // each name's suffixes.
    uint32_t first = UINT32_MAX;
    int firstName = -1;
    if (hostEntries_ > 0) {
        const HostKey unknown(nullptr);
        const auto consider = [&](const std::vector<uint32_t>& candidates, const HostKey& key, int keyIndex) {
            for (const uint32_t index : candidates) {
                if (index >= first)
                    return;
                const RuleEntry& entry = entries[index];
                if (Covers(entry, direction, port) && key.Matches(*entry.host)) {
                    first = index;
                    firstName = keyIndex;
                    return;
                }
            }
        };
        for (size_t i = 0; i < names.size(); ++i)
            for (size_t k = 1; k <= names[i].Labels(); ++k)
                if (const auto found = hostsByHash_.find(names[i].SuffixHash(k)); found != hostsByHash_.end())
                    consider(found->second, names[i], static_cast<int>(i));
        // "*" and "?" look at whether any name is known at all.
        int knownIndex = -1;
        for (size_t i = 0; i < names.size() && knownIndex < 0; ++i)
            if (names[i].Known())
                knownIndex = static_cast<int>(i);
        consider(anyHostEntries_, knownIndex >= 0 ? names[static_cast<size_t>(knownIndex)] : unknown, knownIndex);
    }
    // Then the address entries of this port and of every port before it,
    // merged in rule order: the first match wins as ever.
    static const std::vector<uint32_t> none;
    const auto listOf = [this](uint64_t key) -> const std::vector<uint32_t>& {
        const auto found = addressesByPort_.find(key);
        return found == addressesByPort_.end() ? none : found->second;
    };
    const std::vector<uint32_t>& own = listOf(PortKey(direction, port));
    const std::vector<uint32_t>& every = port != 0 ? listOf(PortKey(direction, 0)) : none;
    size_t i = 0, j = 0;
    for (;;) {
        const uint32_t a = i < own.size() ? own[i] : UINT32_MAX;
        const uint32_t b = j < every.size() ? every[j] : UINT32_MAX;
        const uint32_t index = std::min(a, b);
        if (index >= first)
            break;
        (index == a ? i : j)++;
        if (AddressMatches(entries[index], value))
            return entries[index].permission;
    }
    if (first == UINT32_MAX)
        return fallback;
    if (matchedName)
        *matchedName = firstName;
    return entries[first].permission;
}

int RuleTable::LoadRulesFor(const std::string& path, std::string_view exeName)
{
    LoadStatus status;
    FileStamp stamp;
    return LoadRulesFor(path, exeName, status, stamp);
}

int RuleTable::LoadRulesFor(const std::string& path, std::string_view exeName, LoadStatus& status, FileStamp& stamp)
{
    namespace rules_file = platform::rules_file;
    stamp = {};
    status = LoadStatus::kMissing;
    rules_file::Status opened;
    struct stat st {};
    const int fd = rules_file::Open(path, opened, st);
    if (fd < 0) {
        status = opened.Missing() ? LoadStatus::kMissing : LoadStatus::kUnreadable;
        return 0;
    }
    stamp = platform::StampOf(st);
    // Piece by piece first: a host keeps only what concerns it in memory.
    // Whatever the file holds past the limit (it grew meanwhile), or an
    // error on the way, and nothing read counts.
    size_t passed = 0;
    bool failed = false;
    const RulesSource source = [fd, &passed, &failed](char* buffer, size_t size) -> ssize_t {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, size);
            if (n < 0 && errno == EINTR)
                continue;
            failed = failed || n < 0;
            passed += n > 0 ? static_cast<size_t>(n) : 0;
            if (passed > rf::kMaxRulesFileBytes) {
                failed = true;
                return -1;
            }
            return n;
        }
    };
    // The table changes only when the reading was whole (kRead).
    const StreamResult streamed = ReadRulesStream(source, *this, exeName);
    if (failed) {
        ::close(fd);
        status = LoadStatus::kUnreadable;
        return 0;
    }
    if (streamed.outcome == StreamOutcome::kRead) {
        ::close(fd);
        status = LoadStatus::kLoaded;
        return streamed.stopped;
    }
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    // A part of the file is not the file.
    if (done < text.size()) {
        status = LoadStatus::kUnreadable;
        return 0;
    }
    rules::DocumentReader document;
    if (!document.Parse(text)) {
        status = LoadStatus::kMalformed;
        return 0;
    }
    status = LoadStatus::kLoaded;
    return ReadRulesDocument(document, *this, exeName);
}

int RuleTable::LoadRulesFromText(std::string_view text, std::string_view exeName)
{
    size_t offset = 0;
    const RulesSource source = [&text, &offset](char* buffer, size_t size) -> ssize_t {
        const size_t count = std::min(size, text.size() - offset);
        std::memcpy(buffer, text.data() + offset, count);
        offset += count;
        return static_cast<ssize_t>(count);
    };
    const StreamResult streamed = ReadRulesStream(source, *this, exeName);
    if (streamed.outcome == StreamOutcome::kRead)
        return streamed.stopped;
    return LoadRulesFromDocument(text, exeName);
}

int RuleTable::LoadRulesFromDocument(std::string_view text, std::string_view exeName)
{
    rules::DocumentReader document;
    if (!document.Parse(text))
        return 0;
    return ReadRulesDocument(document, *this, exeName);
}

}  // namespace engine
