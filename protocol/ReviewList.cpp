#include "protocol/ReviewList.h"

#include "os/Paths.h"
#include "os/hooksafe/TrustedFolder.h"
#include "protocol/DecisionList.h"
#include "text/Strings.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string_view>
#include <sys/stat.h>
#include <tuple>

namespace protocol::review {

namespace {

namespace list = decision_list;

constexpr int kFields = 3 + list::kPeerFields;
constexpr list::Limits kLimits {kMaxBytes, true, true};

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// Others must not be able to put a file of theirs, or a link, in its place.
bool SafeFolder(const std::string& path, bool create)
{
    std::string folder = FolderOf(path);
    if (folder.empty())
        return false;
    if (create && !os::MakeTrustedFolders(folder.data(), 0700))
        return false;
    return os::IsTrustedFolder(folder.c_str());
}

std::string FormatLine(const Item& item)
{
    std::string line = std::to_string(static_cast<long long>(item.time));
    list::AddField(line, item.mode);
    list::AddPeerFields(line, item);
    list::AddField(line, item.path);
    line += '\n';
    return line;
}

std::optional<Item> ParseLine(std::string_view line)
{
    // Escaped, a line this list wrote holds no control byte but its tabs.
    if (line.size() > kMaxLineBytes
        || std::any_of(line.begin(), line.end(), [](char c) { return (uint8_t(c) < 0x20 && c != '\t') || c == 0x7f; }))
        return std::nullopt;
    std::string_view fields[kFields];
    Item item;
    if (!list::SplitFields(line, fields, kFields) || !list::IsNumber(fields[0])
        || (fields[1] != "quiet" && fields[1] != "learn") || !list::ParsePeerFields(fields + 2, item)
        || fields[9].empty())
        return std::nullopt;
    item.time = static_cast<std::time_t>(text::ParseDecimal(fields[0]));
    item.mode = fields[1];
    item.path = text::UnescapeLine(fields[9]);
    return item;
}

std::vector<Item> ParseAll(std::string_view text)
{
    std::vector<Item> items;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        if (auto item = ParseLine(text.substr(start, end - start)))
            items.push_back(std::move(*item));
    return items;
}

unsigned RulePort(const Item& item) { return item.outgoing ? item.remotePort : item.localPort; }

const std::string& PeerName(const Item& item) { return item.host.empty() ? item.address : item.host; }

}  // namespace

std::string ListPath() { return os::DataHome() + "/korvel/review"; }

bool Append(const std::string& path, const Item& item)
{
    return SafeFolder(path, true) && list::Append(path, FormatLine(item), kLimits);
}

std::vector<Item> ReadAll(const std::string& path)
{
    if (!SafeFolder(path, false))
        return {};
    return ParseAll(list::Read(path, kLimits).value_or(""));
}

bool Remove(const std::string& path, const std::function<bool(const Item&)>& drop)
{
    struct stat st {};
    if (!path.empty() && ::lstat(FolderOf(path).c_str(), &st) != 0 && errno == ENOENT)
        return true; // no list: nothing to take out
    return SafeFolder(path, false)
        && list::Rewrite(path, kLimits, [&drop](const std::string& text) {
               std::string kept;
               for (const Item& item : ParseAll(text))
                   if (!drop(item))
                       kept += FormatLine(item);
               return kept;
           });
}

bool Covers(const std::string& path, const Peer& peer, const Item& item)
{
    return item.path == path && item.outgoing == peer.outgoing && item.protocol == peer.protocol
        && RulePort(item) == peer.port && PeerName(item) == peer.host;
}

std::vector<Program> Group(const std::vector<Item>& items)
{
    using Key = std::tuple<bool, int, unsigned, std::string>;
    std::map<std::string, std::map<Key, Peer>> byProgram;
    for (const Item& item : items) {
        Peer& peer = byProgram[item.path][Key {item.outgoing, item.protocol, RulePort(item), PeerName(item)}];
        if (peer.count == 0 || item.time >= peer.last) {
            peer.permitted = item.permitted;
            peer.mode = item.mode;
            peer.last = item.time;
        }
        peer.outgoing = item.outgoing;
        peer.protocol = item.protocol;
        peer.port = RulePort(item);
        peer.host = PeerName(item);
        ++peer.count;
    }
    std::vector<Program> programs;
    for (auto& [path, peers] : byProgram) {
        Program program;
        program.path = path;
        for (auto& [key, peer] : peers) {
            program.count += peer.count;
            program.last = std::max(program.last, peer.last);
            program.peers.push_back(std::move(peer));
        }
        std::stable_sort(program.peers.begin(), program.peers.end(),
                         [](const Peer& a, const Peer& b) { return a.last > b.last; });
        programs.push_back(std::move(program));
    }
    std::stable_sort(programs.begin(), programs.end(), [](const Program& a, const Program& b) { return a.last > b.last; });
    return programs;
}

std::string ItemId(const std::string& path, const Peer& peer)
{
    // FNV-1a over what tells the peer apart, each part ended by a NUL.
    uint32_t hash = 2166136261u;
    const auto add = [&hash](std::string_view part) {
        for (const char c : part)
            hash = (hash ^ uint8_t(c)) * 16777619u;
        hash = (hash ^ 0u) * 16777619u;
    };
    add(path);
    add(peer.outgoing ? "out" : "in");
    add(peer.protocol == 2 ? "UDP" : "TCP");
    add(std::to_string(peer.port));
    add(peer.host);
    char id[9];
    std::snprintf(id, sizeof id, "%08x", static_cast<unsigned>(hash));
    return id;
}

}  // namespace protocol::review
