#include "zelconn/JournalEntry.h"

#include <cstdint>

namespace zelconn::journal_entry {

namespace {

bool IsFieldName(std::string_view name)
{
    // The journal's rule: upper-case letters, digits and "_", not starting
    // with "_" or a digit, at most 64 bytes.
    if (name.empty() || name.size() > 64 || name[0] == '_' || (name[0] >= '0' && name[0] <= '9'))
        return false;
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

std::string_view Word(std::string_view text, std::string_view zero, std::string_view one)
{
    return text == "0" ? zero : text == "1" ? one : text;
}

}  // namespace

void AppendField(std::string& datagram, std::string_view name, std::string_view value)
{
    datagram.append(name);
    if (value.find('\n') == std::string_view::npos) {
        datagram += '=';
        datagram.append(value);
    } else {
        datagram += '\n';
        uint64_t size = value.size();
        for (int i = 0; i < 8; ++i, size >>= 8)
            datagram += static_cast<char>(size & 0xFF);
        datagram.append(value);
    }
    datagram += '\n';
}

std::string Format(const protocol::LogEntry& record)
{
    using Kind = protocol::LogEntry::Kind;
    std::string datagram;
    datagram.reserve(512 + record.exePath.size() * 2 + record.application.size());
    std::string message;
    if (record.kind != Kind::kConnection) {
        const bool start = record.kind == Kind::kApplicationStart;
        message = (start ? "program started: " : "program ended: ") + record.exePath;
        AppendField(datagram, "MESSAGE", message);
        AppendField(datagram, "PRIORITY", "6");
        AppendField(datagram, "SYSLOG_IDENTIFIER", kIdentifier);
        AppendField(datagram, "MESSAGE_ID", kProgramMessageId);
        AppendField(datagram, "ZEL_EVENT", start ? "program-start" : "program-end");
        AppendField(datagram, "ZEL_PATH", record.exePath);
        return datagram;
    }

    const std::string_view direction = Word(record.direction, "incoming", "outgoing");
    const std::string_view protocol = record.protocol == "1" ? "tcp" : "udp";
    const std::string_view verdict = Word(record.permission, "denied", "permitted");
    std::string reason = record.reason;
    if (reason.empty())
        for (const auto& [tag, text] : record.others)
            if (tag == protocol::record_tag::kBackstop && text == "1")
                reason = "backstop";

    message.append(verdict).append(" ").append(direction).append(protocol == "tcp" ? " TCP" : " UDP");
    message.append(" connection of ").append(record.exePath);
    message.append(direction == "incoming" ? " from " : " to ").append(record.ip).append(" port ").append(record.remotePort);
    if (!record.host.empty())
        message.append(" (").append(record.host).append(")");
    if (!reason.empty())
        message.append(", by the ").append(reason == "backstop" ? "kernel backstop" : reason);

    AppendField(datagram, "MESSAGE", message);
    AppendField(datagram, "PRIORITY", verdict == "denied" ? "5" : "6");
    AppendField(datagram, "SYSLOG_IDENTIFIER", kIdentifier);
    AppendField(datagram, "MESSAGE_ID", kConnectionMessageId);
    AppendField(datagram, "ZEL_EVENT", "connection");
    AppendField(datagram, "ZEL_PROGRAM", record.application);
    AppendField(datagram, "ZEL_PATH", record.exePath);
    AppendField(datagram, "ZEL_PEER", record.ip);
    AppendField(datagram, "ZEL_PORT", record.remotePort);
    AppendField(datagram, "ZEL_LOCAL_PORT", record.localPort);
    AppendField(datagram, "ZEL_DIRECTION", direction);
    AppendField(datagram, "ZEL_PROTOCOL", protocol);
    AppendField(datagram, "ZEL_VERDICT", verdict);
    AppendField(datagram, "ZEL_SERVICE", record.service);
    if (!record.host.empty())
        AppendField(datagram, "ZEL_HOST", record.host);
    if (!reason.empty())
        AppendField(datagram, "ZEL_REASON", reason);
    // Whatever else a writer put in the record, under its own name unless
    // that is one of the fields above.
    static constexpr std::string_view kOwn[] = {"EVENT", "PROGRAM", "PATH", "PEER", "PORT", "LOCAL_PORT", "DIRECTION",
                                                "PROTOCOL", "VERDICT", "SERVICE", "HOST", "REASON"};
    for (const auto& [tag, text] : record.others) {
        const std::string name = "ZEL_" + tag;
        bool own = false;
        for (const std::string_view word : kOwn)
            own = own || tag == word;
        if (!own && IsFieldName(name))
            AppendField(datagram, name, text);
    }
    return datagram;
}

}  // namespace zelconn::journal_entry
