#include "engine/RuleTable.h"

#include "platform/Descriptors.h"
#include "platform/RulesFormat.h"
#include "platform/Text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pugixml.hpp>

namespace engine {

namespace rf = platform::rules_format;

namespace {

std::string_view TextOf(const pugi::xml_node& node) { return node.text().get(); }

// Rules files larger than this are not read: no real one comes near it.
constexpr size_t kMaxRulesBytes = 64u << 20;

int ReadDocument(const pugi::xml_document& document, RuleTable& table, std::string_view exeName)
{
    // The document element, not merely the first node: a declaration or a
    // comment before the root must not leave the engine without rules.
    const pugi::xml_node root = document.document_element();
    if (!root)
        return 0;
    for (pugi::xml_node app = root.first_child(); app; app = app.next_sibling()) {
        const pugi::xml_node nameNode = app.first_child();
        if (!nameNode)
            return 0;
        const std::string_view name = TextOf(nameNode);
        if (name != exeName && name != rf::kGeneralApp)
            continue;
        bool stop = false;
        if (const auto text = TextOf(app.child(rf::kInDef)); !text.empty()) {
            table.defaultIncoming = PermissionFromText(text);
            stop = true;
        }
        if (const auto text = TextOf(app.child(rf::kOutDef)); !text.empty())
            table.defaultOutgoing = PermissionFromText(text);
        if (const pugi::xml_node rules = app.child(rf::kRules)) {
            for (pugi::xml_node rule = rules.first_child(); rule; rule = rule.next_sibling()) {
                const pugi::xml_node state = rule.child(rf::kState);
                if (!state)
                    return 0;
                if (TextOf(state) != "1")
                    continue;
                const pugi::xml_node permissionNode = rule.child(rf::kPermission);
                if (!permissionNode)
                    return 0;
                const int permission = PermissionFromText(TextOf(permissionNode));
                const pugi::xml_node directionNode = rule.child(rf::kDirection);
                if (!directionNode)
                    return 0;
                const int direction = DirectionFromText(TextOf(directionNode));
                const pugi::xml_node ports = rule.child(rf::kPorts);
                if (!ports)
                    continue;
                for (pugi::xml_node port = ports.first_child(); port; port = port.next_sibling()) {
                    const pugi::xml_node number = port.child(rf::kNumber);
                    if (!number)
                        return 0;
                    const std::optional<int> portNumber = PortFromText(TextOf(number));
                    if (!portNumber)
                        continue;
                    const pugi::xml_node ips = port.child(rf::kIps);
                    // An incoming peer has no name: incoming rules read their
                    // ports as if they named no host.
                    const pugi::xml_node hosts = direction == kIncoming ? pugi::xml_node() : port.child(rf::kHosts);
                    if (ips) {
                        for (pugi::xml_node ip = ips.first_child(); ip; ip = ip.next_sibling())
                            table.AddEntry(*portNumber, direction, permission, ip.text().get());
                    } else if (!hosts) {
                        table.AddEntry(*portNumber, direction, permission, nullptr);
                    }
                    for (pugi::xml_node host = hosts.first_child(); host; host = host.next_sibling())
                        table.AddHostEntry(*portNumber, direction, permission, host.text().get());
                }
            }
        }
        if (stop)
            return 1;
    }
    return 0;
}

}  // namespace

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

int PermissionFromText(std::string_view text)
{
    if (text == rf::kPermit)
        return kPermit;
    if (text == rf::kAsk)
        return kAsk;
    return kDeny;
}

int DirectionFromText(std::string_view text) { return text == rf::kIncoming ? kIncoming : kOutgoing; }

std::optional<int> PortFromText(std::string_view text)
{
    text = platform::TrimBlanks(text);
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto value = platform::ParseDecimal(text);
    if (value > 65535)
        return std::nullopt;
    return static_cast<int>(value);
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
    addressEntries_.push_back(static_cast<uint32_t>(entries.size()));
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
    addressEntries_.clear();
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
    const std::optional<uint32_t> value = ParseIpv4(addressText);
    const int fallback = direction != kIncoming ? defaultOutgoing : defaultIncoming;
    if (hostEntries_ == 0) {
        for (const RuleEntry& entry : entries)
            if (Covers(entry, direction, port) && AddressMatches(entry, value))
                return entry.permission;
        return fallback;
    }
    // The first host entry that matches, found through the name's suffixes;
    // then the address entries before it, in order: first match as ever.
    const HostKey unknown(nullptr);
    const HostKey& key = name ? *name : unknown;
    uint32_t first = UINT32_MAX;
    const auto consider = [&](const std::vector<uint32_t>& candidates) {
        for (const uint32_t index : candidates) {
            if (index >= first)
                return;
            const RuleEntry& entry = entries[index];
            if (Covers(entry, direction, port) && key.Matches(*entry.host)) {
                first = index;
                return;
            }
        }
    };
    for (size_t k = 1; k <= key.Labels(); ++k)
        if (const auto found = hostsByHash_.find(key.SuffixHash(k)); found != hostsByHash_.end())
            consider(found->second);
    consider(anyHostEntries_);
    for (const uint32_t index : addressEntries_) {
        if (index >= first)
            break;
        const RuleEntry& entry = entries[index];
        if (Covers(entry, direction, port) && AddressMatches(entry, value))
            return entry.permission;
    }
    return first != UINT32_MAX ? entries[first].permission : fallback;
}

int RuleTable::LoadRulesFor(const std::string& path, std::string_view exeName)
{
    LoadStatus status;
    FileStamp stamp;
    return LoadRulesFor(path, exeName, status, stamp);
}

int RuleTable::LoadRulesFor(const std::string& path, std::string_view exeName, LoadStatus& status, FileStamp& stamp)
{
    stamp = {};
    status = LoadStatus::kMissing;
    if (path.empty())
        return 0;
    const int fd = platform::OpenRegularFile(path.c_str(), O_RDONLY);
    if (fd < 0) {
        status = errno == ENOENT || errno == ENOTDIR ? LoadStatus::kMissing : LoadStatus::kUnreadable;
        return 0;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || static_cast<size_t>(st.st_size) > kMaxRulesBytes) {
        ::close(fd);
        status = LoadStatus::kUnreadable;
        return 0;
    }
    stamp = platform::StampOf(st);
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(done);
    pugi::xml_document document;
    if (!document.load_buffer_inplace(text.data(), text.size())) {
        status = LoadStatus::kMalformed;
        return 0;
    }
    status = LoadStatus::kLoaded;
    return ReadDocument(document, *this, exeName);
}

int RuleTable::LoadRulesFromText(std::string_view text, std::string_view exeName)
{
    pugi::xml_document document;
    if (!document.load_buffer(text.data(), text.size()))
        return 0;
    return ReadDocument(document, *this, exeName);
}

}  // namespace engine
