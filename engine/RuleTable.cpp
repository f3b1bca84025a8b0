#include "engine/RuleTable.h"

#include "engine/RulesReader.h"

#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Retry.h"
#include "rules/DocumentReader.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace engine {

namespace rf = rules::rules_format;

bool RuleTable::AddEntry(int port, int direction, int permission, const char* addressText)
{
    RuleEntry entry;
    entry.port = port;
    entry.direction = direction;
    entry.permission = permission;
    if (addressText) {
        entry.addresses = rules::ParseAddressRange(addressText);
        if (!entry.addresses)
            return false;
    }
    const auto index = static_cast<uint32_t>(entries.size());
    PortEntries& lists = addressesByPort_[PortKey(direction, port)];
    constexpr uint64_t kAll = ~0ull;
    if (!entry.addresses) {
        lists.ipv4.push_back({index, 0, UINT32_MAX});
        lists.ipv6.push_back({index, {0, 0}, {kAll, kAll}});
        lists.everyAddress.push_back(index);
    } else if (const rules::AddressRange& range = *entry.addresses; range.first <= range.last) {
        if (range.family == rules::AddressFamily::kIpv4) {
            const auto first = static_cast<uint32_t>(range.first.low);
            lists.ipv4.push_back({index, first, static_cast<uint32_t>(range.last.low) - first});
        } else {
            const uint64_t borrow = range.last.low < range.first.low ? 1 : 0;
            lists.ipv6.push_back({index, range.first,
                                  {range.last.high - range.first.high - borrow, range.last.low - range.first.low}});
        }
    }
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
    timedAnswers.Clear();
    addressesByPort_.clear();
    hostsByHash_.clear();
    anyHostEntries_.clear();
    hostEntries_ = 0;
    defaultIncoming = kAsk;
    defaultOutgoing = kAsk;
    ownEntry = false;
    ignoresLists = false;
    profileForLog.clear();
    overrideIncoming = kNoOverride;
    overrideOutgoing = kNoOverride;
}

namespace {

int DecisionOf(protocol::profiles::Answer answer)
{
    switch (answer) {
    case protocol::profiles::Answer::kAllow: return kPermit;
    case protocol::profiles::Answer::kBlock: return kDeny;
    case protocol::profiles::Answer::kAsk: break;
    }
    return kAsk;
}

}  // namespace

void RuleTable::ApplyProfile(const protocol::profiles::Profile& profile, std::string_view path)
{
    profileForLog = text::EscapeLogText(profile.name);
    if (!ownEntry) {
        if (profile.incoming)
            defaultIncoming = DecisionOf(*profile.incoming);
        if (profile.outgoing)
            defaultOutgoing = DecisionOf(*profile.outgoing);
    }
    // A program whose path is unknown is overridden by no profile.
    const protocol::profiles::ProgramOverride* program = path.empty() ? nullptr : profile.OverrideFor(path);
    if (!program)
        return;
    const int decision = program->allow ? kPermit : kDeny;
    if (program->incoming)
        overrideIncoming = decision;
    if (program->outgoing)
        overrideOutgoing = decision;
}

namespace {

bool Covers(const RuleEntry& entry, int direction, int port)
{
    return entry.direction == direction && (entry.port == port || entry.port == 0);
}

__extension__ typedef unsigned __int128 Wide;

Wide WideOf(const rules::Address128& value) { return (static_cast<Wide>(value.high) << 64) | value.low; }

// The slots of a list, in rule order, up to the first whose entry is at or
// past bound: those alone can come first.
template <typename Slot>
std::span<const Slot> Before(const std::vector<Slot>& slots, uint32_t bound)
{
    if (bound == UINT32_MAX || slots.empty() || slots.back().index < bound)
        return slots;
    const auto end = std::lower_bound(slots.begin(), slots.end(), bound,
                                      [](const Slot& slot, uint32_t index) { return slot.index < index; });
    return {slots.data(), static_cast<size_t>(end - slots.begin())};
}

}  // namespace

uint32_t RuleTable::FirstAddressMatch(const PortEntries& lists, const std::optional<rules::PeerAddress>& peer,
                                      uint32_t bound)
{
    // Each list is in rule order: its first entry that covers the peer is
    // its first match.
    if (!peer) {
        const uint32_t index = lists.everyAddress.empty() ? UINT32_MAX : lists.everyAddress.front();
        return std::min(index, bound);
    }
    if (peer->family == rules::AddressFamily::kIpv4) {
        const auto value = static_cast<uint32_t>(peer->value.low);
        for (const Ipv4Slot& slot : Before(lists.ipv4, bound))
            if (value - slot.first <= slot.span) // below first, the difference wraps past every span
                return slot.index;
        return bound;
    }
    const Wide value = WideOf(peer->value);
    for (const Ipv6Slot& slot : Before(lists.ipv6, bound))
        if (value - WideOf(slot.first) <= WideOf(slot.span))
            return slot.index;
    return bound;
}

int RuleTable::MatchRules(int direction, int port, std::string_view addressText, const HostKey* name) const
{
    return name ? MatchRules(direction, port, addressText, std::span<const HostKey>(name, 1), nullptr)
                : MatchRules(direction, port, addressText, std::span<const HostKey>(), nullptr);
}

int RuleTable::MatchRules(int direction, int port, std::string_view addressText, std::span<const HostKey> names,
                          int* matchedName, bool* byEntry) const
{
    return MatchRules(direction, port, rules::ParseAddress(addressText), names, matchedName, byEntry);
}

int RuleTable::MatchRules(int direction, int port, const std::optional<rules::PeerAddress>& peer,
                          std::span<const HostKey> names, int* matchedName, bool* byEntry) const
{
    const int fallback = direction != kIncoming ? defaultOutgoing : defaultIncoming;
    if (matchedName)
        *matchedName = -1;
    if (const int forced = direction != kIncoming ? overrideOutgoing : overrideIncoming; forced != kNoOverride) {
        if (byEntry)
            *byEntry = true;
        return forced;
    }
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
    // Then the address entries of this port and of every port before it:
    // the earliest match wins, as ever.
    uint32_t decided = first;
    if (const auto own = addressesByPort_.find(PortKey(direction, port)); own != addressesByPort_.end())
        decided = FirstAddressMatch(own->second, peer, decided);
    if (port != 0)
        if (const auto every = addressesByPort_.find(PortKey(direction, 0)); every != addressesByPort_.end())
            decided = FirstAddressMatch(every->second, peer, decided);
    if (byEntry)
        *byEntry = decided != UINT32_MAX;
    if (decided == UINT32_MAX)
        return fallback;
    if (matchedName && decided == first)
        *matchedName = firstName;
    return entries[decided].permission;
}

int RuleTable::LoadRulesFor(const std::string& path, ProgramIdentity program)
{
    LoadStatus status;
    FileStamp stamp;
    return LoadRulesFor(path, program, status, stamp);
}

template <typename Read>
int RuleTable::ReadPreferringLimited(ProgramIdentity program, const Read& read)
{
    if (!program.HasParent())
        return read(program);
    const RuleTable before = *this;
    bool seen = false;
    program.limitedSeen = &seen;
    const int plain = read(program);
    if (!seen)
        return plain;
    // Each reading is whole: a file replaced between them is read again
    // as it is now, never half from one version and half from the other.
    *this = before;
    bool found = false;
    program.limited = true;
    program.limitedSeen = &found;
    const int limited = read(program);
    if (found)
        return limited;
    *this = before;
    program.limited = false;
    program.limitedSeen = nullptr;
    return read(program);
}

int RuleTable::LoadRulesFor(const std::string& path, ProgramIdentity program, LoadStatus& status, FileStamp& stamp)
{
    return ReadPreferringLimited(program, [&](ProgramIdentity reading) {
        return LoadRulesOnce(path, reading, status, stamp);
    });
}

int RuleTable::LoadRulesOnce(const std::string& path, ProgramIdentity program, LoadStatus& status, FileStamp& stamp)
{
    namespace rules_file = rules::rules_file;
    stamp = {};
    status = LoadStatus::kMissing;
    rules_file::Status opened;
    struct stat st {};
    const int fd = rules_file::Open(path, opened, st);
    if (fd < 0) {
        status = opened.Missing() ? LoadStatus::kMissing : LoadStatus::kUnreadable;
        return 0;
    }
    stamp = os::StampOf(st);
    // Piece by piece first: a carrier keeps only what concerns it in memory.
    // Whatever the file holds past a limit (bytes, or elements, which an
    // application kept whole would cost), or an error on the way, and
    // nothing read counts.
    size_t passed = 0;
    bool failed = false;
    rules_file::Markup markup;
    const RulesSource source = [fd, &passed, &failed, &markup](char* buffer, size_t size) -> ssize_t {
        const ssize_t n = os::RetryOnInterrupt([&] { return ::read(fd, buffer, size); });
        failed = failed || n < 0;
        passed += n > 0 ? static_cast<size_t>(n) : 0;
        if (n > 0)
            markup.Add(std::string_view(buffer, static_cast<size_t>(n)));
        if (passed > rf::kMaxRulesFileBytes || markup.Over()) {
            failed = true;
            return -1;
        }
        return n;
    };
    // The table changes only when the reading was whole (kRead).
    const StreamResult streamed = ReadRulesStream(source, *this, program);
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
        const ssize_t n = os::RetryOnInterrupt([&] { return ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done)); });
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    // A part of the file is not the file.
    markup = {};
    markup.Add(text);
    if (done < text.size() || markup.Over()) {
        status = LoadStatus::kUnreadable;
        return 0;
    }
    rules::DocumentReader document;
    if (!document.Parse(text)) {
        status = LoadStatus::kMalformed;
        return 0;
    }
    status = LoadStatus::kLoaded;
    return ReadRulesDocument(document, *this, program);
}

int RuleTable::LoadRulesFromText(std::string_view text, ProgramIdentity program)
{
    return ReadPreferringLimited(program, [&](ProgramIdentity reading) { return LoadRulesFromTextOnce(text, reading); });
}

int RuleTable::LoadRulesFromTextOnce(std::string_view text, ProgramIdentity program)
{
    size_t offset = 0;
    const RulesSource source = [&text, &offset](char* buffer, size_t size) -> ssize_t {
        const size_t count = std::min(size, text.size() - offset);
        std::memcpy(buffer, text.data() + offset, count);
        offset += count;
        return static_cast<ssize_t>(count);
    };
    const StreamResult streamed = ReadRulesStream(source, *this, program);
    if (streamed.outcome == StreamOutcome::kRead)
        return streamed.stopped;
    rules::DocumentReader document;
    if (!document.Parse(text))
        return 0;
    return ReadRulesDocument(document, *this, program);
}

int RuleTable::LoadRulesFromDocument(std::string_view text, ProgramIdentity program)
{
    rules::DocumentReader document;
    if (!document.Parse(text))
        return 0;
    return ReadPreferringLimited(program,
                                 [&](ProgramIdentity reading) { return ReadRulesDocument(document, *this, reading); });
}

}  // namespace engine
