#include "platform/ErrorLog.h"

#include "platform/Clock.h"

#include <cstdio>

namespace platform {

std::string ErrorLogFileName(const std::string& folder, std::time_t when)
{
    std::tm local {};
    ::localtime_r(&when, &local);
    char name[64];
    std::snprintf(name, sizeof name, "/%d_%d_%d_err.LOG", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
    return folder + name;
}

std::string ErrorLogLine(std::string_view label, std::string_view description, std::time_t when)
{
    std::tm local {};
    ::localtime_r(&when, &local);
    char date[256];
    char time[256];
    FormatLocalDate(local, date, sizeof date);
    FormatLocalTime(local, time, sizeof time);
    std::string line = std::string(date) + ":" + time + " " + std::string(label) + " : ";
    // One error, one line, whatever the description holds.
    for (const char c : description)
        line += c == '\n' || c == '\r' ? ' ' : c;
    return line + "\r\n";
}

}  // namespace platform
