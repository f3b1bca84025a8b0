#include "panel/core/RuleChecks.h"

#include "os/Files.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/SettingValues.h"
#include "rules/AddressRange.h"
#include "rules/HostPatterns.h"
#include "text/Strings.h"

#include <cerrno>
#include <cstring>
#include <sstream>

namespace panel {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos)
            return parts;
        start = at + 1;
    }
}

}  // namespace

bool CheckSingleIp(std::string_view text)
{
    text = text::TrimBlanks(text);
    if (text.empty())
        return true;
    if (text.find(':') != std::string_view::npos)
        return rules::ParseAddress(text).has_value();
    const auto parts = Split(text, '.');
    if (parts.size() != 4)
        return false;
    for (const std::string_view part : parts) {
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        if (std::stoi(std::string(part)) > 255)
            return false;
    }
    return true;
}

bool CheckIpList(std::string_view text)
{
    for (const std::string_view item : Split(text, ',')) {
        const bool prefix = item.find('/') != std::string_view::npos;
        if (prefix ? !rules::ParseAddressRange(item) : !CheckSingleIp(item))
            return false;
    }
    return true;
}

bool CheckIpRange(std::string_view low, std::string_view high)
{
    if (!CheckSingleIp(low) || !CheckSingleIp(high))
        return false;
    const auto address = [](std::string_view text) {
        return text::TrimBlanks(text).empty() ? rules::ParseAddress("0.0.0.0") : rules::ParseAddress(text);
    };
    const auto first = address(low), last = address(high);
    return first && last && first->family == last->family && first->value <= last->value;
}

std::optional<std::vector<std::string>> CheckHostList(std::string_view text)
{
    std::vector<std::string> patterns;
    for (const std::string_view item : Split(text, ',')) {
        auto pattern = rules::NormalizeHostPattern(item);
        if (!pattern)
            return std::nullopt;
        patterns.push_back(std::move(*pattern));
    }
    return patterns;
}

bool CheckPortOk(std::string_view text)
{
    return text::TrimBlanks(text).empty() || TextToInteger(text).has_value();
}

double longfromip(std::string_view text)
{
    text = text::TrimBlanks(text);
    if (text.empty())
        return 0;
    double value = 0;
    for (const std::string_view part : Split(text, '.'))
        value = value * 256 + (part.empty() ? 0 : std::stod(std::string(part)));
    return value;
}

std::vector<std::pair<std::string, int>> LoadPortsFile(const std::string& path)
{
    errno = 0;
    const auto text = os::ReadFile(path, 1 << 20);
    if (!text) {
        WriteErrLogErrno("EditApp_Step4 : LoadPortsFile", "cannot read " + path, errno ? errno : EIO);
        return {};
    }
    return ParsePortsText(*text);
}

std::vector<std::pair<std::string, int>> ParsePortsText(const std::string& text)
{
    std::vector<std::pair<std::string, int>> ports;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t blank = line.find(' ');
        const std::string name(text::TrimBlanks(blank == std::string::npos ? std::string_view() : std::string_view(line).substr(0, blank)));
        // The number: the line without the name, wherever it stands.
        std::string rest = line;
        if (!name.empty())
            for (size_t at = rest.find(name); at != std::string::npos; at = rest.find(name))
                rest.erase(at, name.size());
        const auto number = TextToInteger(rest);
        if (!number)
            break;
        ports.emplace_back(name, *number);
    }
    return ports;
}

}  // namespace panel
