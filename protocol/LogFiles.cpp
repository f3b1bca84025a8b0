#include "protocol/LogFiles.h"

#include "os/Clock.h"
#include "text/Strings.h"

#include <cstdio>

namespace protocol {

namespace tag = record_tag;

namespace {

std::string DayFileName(const std::string& folder, const std::tm& local, const char* suffix)
{
    char name[64];
    std::snprintf(name, sizeof name, "/%d_%d_%d_%s", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, suffix);
    return folder + name;
}

std::tm LocalTime(std::time_t when)
{
    std::tm local {};
    ::localtime_r(&when, &local);
    return local;
}

// A decimal number of 1 to maxDigits digits without a leading zero, then the
// separator; advances past both.
bool ReadNumber(std::string_view& text, size_t maxDigits, char separator, int& value)
{
    size_t digits = 0;
    value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        value = value * 10 + (text[digits++] - '0');
    if (digits == 0 || digits > maxDigits || text[0] == '0' || digits >= text.size() || text[digits] != separator)
        return false;
    text.remove_prefix(digits + 1);
    return true;
}

bool IsDailyFileName(std::string_view name, std::string_view suffix)
{
    int day = 0, month = 0, year = 0;
    if (!ReadNumber(name, 2, '_', day) || !ReadNumber(name, 2, '_', month) || !ReadNumber(name, 4, '_', year))
        return false;
    if (name != suffix || month < 1 || month > 12 || year < 1000)
        return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day >= 1 && day <= (month == 2 && !leap ? 28 : kDays[month - 1]);
}

}  // namespace

std::string TrafficLogFileName(const std::string& folder, const std::tm& local)
{
    return DayFileName(folder, local, "qrb.log");
}

std::string TrafficLogFileName(const std::string& folder, std::time_t when)
{
    return TrafficLogFileName(folder, LocalTime(when));
}

std::string ErrorLogFileName(const std::string& folder, std::time_t when)
{
    return DayFileName(folder, LocalTime(when), "err.LOG");
}

bool IsTrafficLogFileName(std::string_view name) { return IsDailyFileName(name, "qrb.log"); }
bool IsErrorLogFileName(std::string_view name) { return IsDailyFileName(name, "err.LOG"); }

std::string ErrorLogLine(std::string_view label, std::string_view description, std::time_t when)
{
    const std::tm local = LocalTime(when);
    char date[256];
    char time[256];
    os::FormatLocalDate(local, date, sizeof date);
    os::FormatLocalTime(local, time, sizeof time);
    std::string line = std::string(date) + ":" + time + " " + std::string(label) + " : ";
    // One error, one line, whatever the description holds.
    for (const char c : description)
        line += c == '\n' || c == '\r' ? ' ' : c;
    return line + "\r\n";
}

std::string RecordStamp(const std::tm& local)
{
    char date[256];
    char time[256];
    os::FormatLocalDate(local, date, sizeof date);
    os::FormatLocalTime(local, time, sizeof time);
    std::string stamp(kOpenTag<tag::kDate>);
    stamp += text::EscapeLogText(date);
    stamp += kTagsBetween<tag::kDate, tag::kTime>;
    stamp += text::EscapeLogText(time);
    stamp += kEndTag<tag::kTime>;
    return stamp;
}

void RecordText::Spill(std::string_view text)
{
    if (overflow_.empty())
        overflow_.assign(inline_, size_);
    overflow_.append(text);
}

void RecordText::AppendNumber(long long value)
{
    // Most numbers of a record are a single digit.
    if (value >= 0 && value < 10) {
        const char digit = static_cast<char>('0' + value);
        Append(std::string_view(&digit, 1));
        return;
    }
    char digits[24];
    char* const end = digits + sizeof digits;
    char* at = end;
    const bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    if (magnitude <= 0xFFFFFFFFu) {
        // Ports and the like: 32-bit division is cheaper.
        for (auto small = static_cast<uint32_t>(magnitude); small; small /= 10)
            *--at = static_cast<char>('0' + small % 10);
    } else {
        for (; magnitude; magnitude /= 10)
            *--at = static_cast<char>('0' + magnitude % 10);
    }
    if (negative)
        *--at = '-';
    Append(std::string_view(at, static_cast<size_t>(end - at)));
}

std::string ConnectionRecordHead(const std::string& exePathForLog, const std::string& descriptionForLog)
{
    std::string head(kOpenTag<tag::kExePath>);
    head += exePathForLog;
    head += kTagsBetween<tag::kExePath, tag::kApplication>;
    head += descriptionForLog;
    head += kTagsBetween<tag::kApplication, tag::kProtocol>;
    return head;
}

void FormatConnectionBody(const ConnectionRecord& r, RecordText& body)
{
    body.Append(*r.head);
    body.AppendNumber(r.protocol);
    body.Append(kTagsBetween<tag::kProtocol, tag::kDirection>);
    body.AppendNumber(r.direction);
    body.Append(kTagsBetween<tag::kDirection, tag::kIp>);
    const std::string_view address = r.remoteAddress ? r.remoteAddress : "";
    if (text::NeedsLogEscaping(address))
        body.Append(text::EscapeLogText(address));
    else
        body.Append(address);
    body.Append(kTagsBetween<tag::kIp, tag::kLocalPort>);
    body.AppendNumber(r.localPort);
    body.Append(kTagsBetween<tag::kLocalPort, tag::kRemotePort>);
    body.AppendNumber(r.remotePort);
    body.Append(kTagsBetween<tag::kRemotePort, tag::kPermission>);
    body.AppendNumber(r.permission);
    body.Append(kTagsBetween<tag::kPermission, tag::kService>);
    body.AppendNumber(r.service ? 1 : 0);
    body.Append(kEndTag<tag::kService>);
    // After the documented fields: readers that look fields up by tag pass
    // over it. A normalised name holds nothing that needs escaping.
    if (r.hostName && *r.hostName && !text::NeedsLogEscaping(r.hostName)) {
        body.Append(kOpenTag<tag::kHost>);
        body.Append(r.hostName);
        body.Append(kEndTag<tag::kHost>);
    }
    // Last, for the same reason; the words are plain letters.
    if (r.reason && *r.reason) {
        body.Append(kOpenTag<tag::kReason>);
        body.Append(r.reason);
        body.Append(kEndTag<tag::kReason>);
    }
    if (r.list && *r.list) {
        const std::string_view list(r.list);
        body.Append(kOpenTag<tag::kList>);
        if (text::NeedsLogEscaping(list))
            body.Append(text::EscapeLogText(list));
        else
            body.Append(list);
        body.Append(kEndTag<tag::kList>);
    }
}

std::string CarrierEventBody(const char* tag, const std::string& exePathForLog)
{
    return std::string("<") + tag + ">" + exePathForLog + "</" + tag + ">";
}

bool NextLogTag(std::string_view& rest, std::string_view& name, std::string_view& value)
{
    if (rest.empty() || rest.front() != '<')
        return false;
    const size_t close = rest.find('>');
    if (close == std::string_view::npos)
        return false;
    name = rest.substr(1, close - 1);
    if (name.empty() || name.front() == '/')
        return false;
    // "</NAME>" searched in two steps, without building it.
    for (size_t end = close + 1;; ++end) {
        end = rest.find("</", end);
        if (end == std::string_view::npos)
            return false;
        if (rest.substr(end + 2, name.size()) == name && rest.substr(end + 2 + name.size(), 1) == ">") {
            value = rest.substr(close + 1, end - close - 1);
            rest.remove_prefix(end + name.size() + 3);
            return true;
        }
    }
}

std::optional<LogEntry> ParseLogLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    LogEntry entry;
    bool any = false;
    bool connection = false;
    while (!line.empty()) {
        std::string_view name, raw;
        if (!NextLogTag(line, name, raw))
            return std::nullopt;
        std::string value = text::UnescapeLogText(raw);
        any = true;
        if (name == tag::kDate)
            entry.date = std::move(value);
        else if (name == tag::kTime)
            entry.time = std::move(value);
        else if (name == tag::kApplicationStart || name == tag::kApplicationEnd) {
            entry.kind = name == tag::kApplicationStart ? LogEntry::Kind::kApplicationStart : LogEntry::Kind::kApplicationEnd;
            entry.exePath = std::move(value);
        } else {
            connection = true;
            if (name == tag::kExePath)
                entry.exePath = std::move(value);
            else if (name == tag::kApplication)
                entry.application = std::move(value);
            else if (name == tag::kProtocol)
                entry.protocol = std::move(value);
            else if (name == tag::kDirection)
                entry.direction = std::move(value);
            else if (name == tag::kIp)
                entry.ip = std::move(value);
            else if (name == tag::kLocalPort)
                entry.localPort = std::move(value);
            else if (name == tag::kRemotePort)
                entry.remotePort = std::move(value);
            else if (name == tag::kPermission)
                entry.permission = std::move(value);
            else if (name == tag::kService)
                entry.service = std::move(value);
            else if (name == tag::kHost)
                entry.host = std::move(value);
            else if (name == tag::kReason)
                entry.reason = std::move(value);
            else if (name == tag::kList)
                entry.list = std::move(value);
            else
                entry.others.emplace_back(name, std::move(value));
        }
    }
    if (!any || (connection && entry.kind != LogEntry::Kind::kConnection))
        return std::nullopt;
    return entry;
}

}  // namespace protocol
