#include "rules/HostListParser.h"

#include "rules/hooksafe/Names.h"

#include <algorithm>
#include <cstring>

namespace rules {

namespace {

enum class Outcome : uint8_t { kEntries, kComment, kAdBlock, kLocal, kNonAscii, kLong, kInvalid, kFull };

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The next word of line at or after at, blanks apart; empty at the end.
std::string_view NextWord(std::string_view line, size_t& at)
{
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    const size_t start = at;
    while (at < line.size() && !IsBlank(line[at]))
        ++at;
    return line.substr(start, at - start);
}

// The addresses hosts files send a listed name to.
bool IsSinkAddress(std::string_view word)
{
    return word == "0.0.0.0" || word == "127.0.0.1" || word == "::" || word == "::1";
}

// What a hosts file names this machine by: a list that carried one would
// cut programs off from themselves.
bool IsLocalName(std::string_view name)
{
    static constexpr std::string_view kNames[] = {
        "localhost", "localhost.localdomain", "localhost4", "localhost4.localdomain4", "localhost6",
        "localhost6.localdomain6", "local", "broadcasthost", "ip6-localhost", "ip6-loopback", "ip6-localnet",
        "ip6-mcastprefix", "ip6-allnodes", "ip6-allrouters", "ip6-allhosts",
    };
    if (name.ends_with(".localhost"))
        return true;
    for (const std::string_view local : kNames)
        if (name == local)
            return true;
    return false;
}

// Marks of AdBlock filters no host name has.
bool HasAdBlockMark(std::string_view word) { return word.find_first_of("$^|*&=?~%,@") != std::string_view::npos; }

bool LooksLikeAddress(std::string_view word)
{
    const std::string_view address = word.substr(0, word.find('/'));
    return !address.empty()
        && (address.find(':') != std::string_view::npos
            || address.find_first_not_of("0123456789.") == std::string_view::npos);
}

// An address is read as the prefix of its full length, so that IPv4 is
// strict (four parts of 0 to 255) as it is in a prefix.
std::optional<AddressRange> ParseListAddress(std::string_view word)
{
    char text[64];
    if (word.size() + 5 > sizeof text)
        return std::nullopt;
    std::memcpy(text, word.data(), word.size());
    size_t length = word.size();
    if (word.find('/') == std::string_view::npos) {
        const std::string_view full = word.find(':') == std::string_view::npos ? "/32" : "/128";
        std::memcpy(text + length, full.data(), full.size());
        length += full.size();
    }
    return ParseAddressRange(std::string_view(text, length));
}

bool Overlaps(const AddressRange& range, AddressFamily family, Address128 first, Address128 last)
{
    return range.family == family && range.first <= last && first <= range.last;
}

// 0.0.0.0/8, 127.0.0.0/8, :: and ::1: this machine, never a list's to refuse.
bool IsLocalRange(const AddressRange& range)
{
    return Overlaps(range, AddressFamily::kIpv4, {0, 0}, {0, 0x00ffffff})
        || Overlaps(range, AddressFamily::kIpv4, {0, 0x7f000000}, {0, 0x7fffffff})
        || Overlaps(range, AddressFamily::kIpv6, {0, 0}, {0, 1});
}

// Wider than a /8 of IPv4 or a /16 of IPv6: a whole region of the network,
// which no list of hosts means to refuse.
bool IsTooWide(const AddressRange& range)
{
    if (range.family == AddressFamily::kIpv4)
        return range.last.low - range.first.low >= 0x00ffffff + 1ull;
    return range.last.high - range.first.high >= (1ull << 48);
}

class Parser {
public:
    explicit Parser(HostList& list) : list_(list) {}

    Outcome Line(std::string_view line);
    void Undo()
    {
        list_.pool.resize(poolMark_);
        list_.names.resize(namesMark_);
        list_.addresses.resize(addressesMark_);
        list_.counts.names = namesCount_;
        list_.counts.namesAndBelow = belowCount_;
        list_.counts.addresses = addressesCount_;
    }

private:
    void Mark()
    {
        poolMark_ = list_.pool.size();
        namesMark_ = list_.names.size();
        addressesMark_ = list_.addresses.size();
        namesCount_ = list_.counts.names;
        belowCount_ = list_.counts.namesAndBelow;
        addressesCount_ = list_.counts.addresses;
    }
    bool Full() const { return list_.counts.Entries() >= kMaxHostListEntries; }
    Outcome Name(std::string_view word, bool below);
    Outcome Address(std::string_view word);
    Outcome Word(std::string_view word);
    Outcome HostsLine(std::string_view line, size_t at, bool sink);

    HostList& list_;
    size_t poolMark_ = 0, namesMark_ = 0, addressesMark_ = 0;
    size_t namesCount_ = 0, belowCount_ = 0, addressesCount_ = 0;
};

Outcome Parser::Name(std::string_view word, bool below)
{
    char normal[kMaxHostName + 1];
    const size_t length = NormalizeHostName(word.data(), word.size(), normal, sizeof normal);
    const std::string_view name(normal, length);
    // Everything under a top-level domain is a region, not a host.
    if (length == 0 || (below && name.find('.') == std::string_view::npos))
        return Outcome::kInvalid;
    if (IsLocalName(name))
        return Outcome::kLocal;
    if (Full())
        return Outcome::kFull;
    list_.names.push_back({static_cast<uint32_t>(list_.pool.size()), static_cast<uint8_t>(length), below});
    list_.pool.append(name);
    ++(below ? list_.counts.namesAndBelow : list_.counts.names);
    return Outcome::kEntries;
}

Outcome Parser::Address(std::string_view word)
{
    const auto range = ParseListAddress(word);
    if (!range || range->first > range->last || IsTooWide(*range))
        return Outcome::kInvalid;
    if (IsLocalRange(*range))
        return Outcome::kLocal;
    if (Full())
        return Outcome::kFull;
    list_.addresses.push_back(*range);
    ++list_.counts.addresses;
    return Outcome::kEntries;
}

// A line of one word: a name, "*.name", an address or prefix, or a filter.
Outcome Parser::Word(std::string_view word)
{
    if (word.size() > 2 && word.substr(0, 2) == "*.") {
        const std::string_view rest = word.substr(2);
        return HasAdBlockMark(rest) || rest.find('/') != std::string_view::npos ? Outcome::kAdBlock
                                                                                 : Name(rest, true);
    }
    if (HasAdBlockMark(word))
        return Outcome::kAdBlock;
    if (LooksLikeAddress(word))
        return Address(word);
    if (const size_t slash = word.find('/'); slash != std::string_view::npos) {
        // "name/path" is a filter on addresses of the web, not a host.
        char normal[kMaxHostName + 1];
        return NormalizeHostName(word.data(), slash, normal, sizeof normal) ? Outcome::kAdBlock : Outcome::kInvalid;
    }
    return Name(word, false);
}

// "0.0.0.0 name name ...": every name is taken or the line adds nothing.
// After another address only the hosts file's own lines are known
// ("255.255.255.255 broadcasthost", "ff02::1 ip6-allnodes"): a list that
// sends names to a real address is no list of hosts to refuse.
Outcome Parser::HostsLine(std::string_view line, size_t at, bool sink)
{
    bool local = false;
    for (std::string_view word = NextWord(line, at); !word.empty(); word = NextWord(line, at)) {
        if (IsSinkAddress(word)) {
            local = true;
            continue;
        }
        const Outcome outcome = sink ? Name(word, false) : Outcome::kInvalid;
        if (outcome == Outcome::kLocal || IsLocalName(word))
            local = true;
        else if (outcome != Outcome::kEntries)
            return outcome;
    }
    return list_.names.size() == namesMark_ && local ? Outcome::kLocal : Outcome::kEntries;
}

Outcome Parser::Line(std::string_view line)
{
    Mark();
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() > kMaxHostListLine)
        return Outcome::kLong;
    line = Trim(line);
    if (line.empty() || line[0] == '!')
        return Outcome::kComment;
    // "##", "#@#", "#?#", "#$#": AdBlock's page filters; any other '#' after
    // a blank opens a comment.
    bool pageFilter = false;
    for (size_t hash = line.find('#'); hash != std::string_view::npos; hash = line.find('#', hash + 1)) {
        if (hash + 1 < line.size() && std::strchr("#@?$", line[hash + 1]) != nullptr) {
            pageFilter = true;
            break;
        }
        if (hash == 0 || IsBlank(line[hash - 1])) {
            line = Trim(line.substr(0, hash));
            break;
        }
    }
    if (line.empty())
        return Outcome::kComment;
    bool nonAscii = false;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        // Control bytes and markup are never part of a list: such a line is
        // hostile or broken, whatever else it holds.
        if ((byte < 0x20 && byte != '\t') || byte == 0x7f || c == '<' || c == '>')
            return Outcome::kInvalid;
        nonAscii = nonAscii || byte >= 0x80;
    }
    if (pageFilter)
        return Outcome::kAdBlock;
    if (nonAscii)
        return Outcome::kNonAscii;
    if (line[0] == '[' || line.substr(0, 2) == "@@")
        return Outcome::kAdBlock;
    if (line.substr(0, 2) == "||") {
        // "||name^" is a name and everything under it; with options, a path
        // or a wildcard it is a filter this list does not take.
        const std::string_view body = line.substr(2);
        if (body.size() < 2 || body.back() != '^')
            return Outcome::kAdBlock;
        const std::string_view name = body.substr(0, body.size() - 1);
        if (HasAdBlockMark(name) || name.find('/') != std::string_view::npos)
            return Outcome::kAdBlock;
        return LooksLikeAddress(name) ? Address(name) : Name(name, true);
    }
    if (line[0] == '|' || line[0] == '/')
        return Outcome::kAdBlock;
    size_t at = 0;
    const std::string_view first = NextWord(line, at);
    if (at == line.size())
        return Word(first);
    // More than one word: a hosts file's line.
    return LooksLikeAddress(first) ? HostsLine(line, at, IsSinkAddress(first)) : Outcome::kInvalid;
}

}  // namespace

HostList ParseHostList(std::string_view text)
{
    HostList list;
    // The names never outgrow the text: reserved once, the pool is never
    // copied as it grows, and its pages past the names are never touched.
    list.pool.reserve(std::min(text.size(), kMaxHostListBytes));
    Parser parser(list);
    size_t start = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") // a byte order mark some editors write
        start = 3;
    while (start < text.size()) {
        const void* newline = std::memchr(text.data() + start, '\n', text.size() - start);
        const size_t end = newline ? static_cast<size_t>(static_cast<const char*>(newline) - text.data()) : text.size();
        const size_t line = list.counts.lines + 1;
        if (end > kMaxHostListBytes) {
            list.stop = HostListStop::kTooLarge;
            list.stopLine = line;
            break;
        }
        const Outcome outcome = parser.Line(text.substr(start, end - start));
        if (outcome == Outcome::kFull) {
            parser.Undo();
            list.stop = HostListStop::kTooManyEntries;
            list.stopLine = line;
            break;
        }
        list.counts.lines = line;
        switch (outcome) {
        case Outcome::kEntries:
        case Outcome::kFull:
            break;
        case Outcome::kComment:
            ++list.counts.comments;
            break;
        case Outcome::kAdBlock:
            ++list.counts.skippedAdBlock;
            break;
        case Outcome::kLocal:
            ++list.counts.skippedLocal;
            break;
        case Outcome::kNonAscii:
            ++list.counts.skippedNonAscii;
            break;
        case Outcome::kLong:
            ++list.counts.skippedLong;
            break;
        case Outcome::kInvalid:
            parser.Undo();
            ++list.counts.invalid;
            if (list.firstInvalidKept < list.firstInvalid.size())
                list.firstInvalid[list.firstInvalidKept++] = line;
            break;
        }
        start = end + 1;
    }
    return list;
}

}  // namespace rules
