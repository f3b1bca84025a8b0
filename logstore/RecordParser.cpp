#include "logstore/RecordParser.h"

#include "protocol/LogFiles.h"
#include "protocol/RecordWords.h"
#include "text/Strings.h"

namespace logstore {

namespace {

namespace tag = protocol::record_tag;

// The text between a tag's opening and its end, escapes undone; copied as
// it is when it holds none (most do).
std::string Unescaped(std::string_view raw)
{
    return raw.find('&') == std::string_view::npos ? std::string(raw) : text::UnescapeLogText(raw);
}

std::optional<int> Port(std::string_view text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    int value = 0;
    for (const char c : text)
        value = value * 10 + (c - '0');
    if (value > 65535)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<RecordRow> RecordParser::Parse(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    // Read as protocol::ParseLogLine reads it, tag after tag, so that the
    // index holds what every other reader of the log shows; the texts are
    // kept raw until the line is known to be a record.
    std::string_view date, time, exePath, app, protocol, direction, ip, localPort, remotePort, permission, service,
        host, reason, list;
    bool backstop = false;
    while (!line.empty()) {
        std::string_view name, value;
        if (!protocol::NextLogTag(line, name, value))
            return std::nullopt;
        if (name == tag::kDate)
            date = value;
        else if (name == tag::kTime)
            time = value;
        else if (name == tag::kApplicationStart || name == tag::kApplicationEnd)
            return std::nullopt; // a program's start or end: no connection
        else if (name == tag::kExePath)
            exePath = value;
        else if (name == tag::kApplication)
            app = value;
        else if (name == tag::kProtocol)
            protocol = value;
        else if (name == tag::kDirection)
            direction = value;
        else if (name == tag::kIp)
            ip = value;
        else if (name == tag::kLocalPort)
            localPort = value;
        else if (name == tag::kRemotePort)
            remotePort = value;
        else if (name == tag::kPermission)
            permission = value;
        else if (name == tag::kService)
            service = value;
        else if (name == tag::kHost)
            host = value;
        else if (name == tag::kReason)
            reason = value;
        else if (name == tag::kList)
            list = value;
        else if (name == tag::kBackstop)
            backstop = true; // its presence, as the views read it
        // Tags of newer writers are passed over.
    }
    RecordRow row;
    row.app = Unescaped(app);
    row.ip = Unescaped(ip);
    const std::string dateText = Unescaped(date), timeText = Unescaped(time), protocolText = Unescaped(protocol);
    if (dateText.empty() || timeText.empty() || row.app.empty() || protocolText.empty() || row.ip.empty())
        return std::nullopt;
    const protocol::RecordWhen when = times_.Read(dateText, timeText);
    row.t = when.when;
    row.dated = when.dated;
    row.proto = protocolText == "1" ? 1 : 0;
    row.dir = Unescaped(direction) == "0" ? 0 : 1;
    const std::string permissionText = Unescaped(permission);
    row.perm = permissionText == "1" ? 1 : permissionText == "0" ? 0 : 2;
    row.service = Unescaped(service) == "1";
    row.backstop = backstop;
    row.exePath = Unescaped(exePath);
    row.localPort = Port(Unescaped(localPort));
    row.remotePort = Port(Unescaped(remotePort));
    row.host = Unescaped(host);
    row.reason = Unescaped(reason);
    row.list = Unescaped(list);
    return row;
}

}  // namespace logstore
