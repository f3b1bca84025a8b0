#include "text/Strings.h"

#include <array>
#include <limits>

namespace text {

int64_t ParseDecimal(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'
                               || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > limit) {
            value = limit;
            // Skip the remaining digits; the value is already saturated.
            while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9')
                ++i;
        }
    }
    const auto result = static_cast<int64_t>(value);
    return negative ? -result : result;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> Words(std::string_view text, size_t most)
{
    std::vector<std::string_view> words;
    size_t at = 0;
    while (words.size() < most) {
        while (at < text.size() && IsBlank(text[at]))
            ++at;
        if (at == text.size())
            break;
        const size_t start = at;
        while (at < text.size() && !IsBlank(text[at]))
            ++at;
        words.push_back(text.substr(start, at - start));
    }
    return words;
}

std::string_view Column(std::string_view line, int wanted)
{
    size_t pos = 0;
    for (int column = 1; pos < line.size(); ++column) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        const size_t start = pos;
        while (pos < line.size() && line[pos] != ' ')
            ++pos;
        if (pos == start)
            break;
        if (column == wanted)
            return line.substr(start, pos - start);
    }
    return {};
}

std::string ToUpper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

std::string_view FileNamePart(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string EscapeLine(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

std::string UnescapeLine(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    return out;
}

namespace {

// Looked up for every character of every record: a table answers fastest.
constexpr auto kPlainLogCharacters = [] {
    std::array<bool, 256> plain {};
    for (int c = 0x20; c < 256; ++c)
        plain[static_cast<size_t>(c)] = c != 0x7F && c != '<' && c != '>' && c != '&';
    return plain;
}();

bool IsPlainLogCharacter(char c) { return kPlainLogCharacters[static_cast<unsigned char>(c)]; }

}  // namespace

bool NeedsLogEscaping(std::string_view text)
{
    for (const char c : text)
        if (!IsPlainLogCharacter(c))
            return true;
    return false;
}

void AppendEscapedLogText(std::string& out, std::string_view text)
{
    // Addresses and most paths need nothing: copied whole.
    size_t clean = 0;
    while (clean < text.size() && IsPlainLogCharacter(text[clean]))
        ++clean;
    out.append(text.data(), clean);
    for (const char c : text.substr(clean)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else if (byte < 0x20 || byte == 0x7F)
            out += "&#" + std::to_string(byte) + ";";
        else
            out += c;
    }
}

std::string EscapeLogText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    AppendEscapedLogText(out, text);
    return out;
}

std::string UnescapeLogText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const size_t end = text.find(';', i);
        const std::string_view entity = end == std::string_view::npos ? std::string_view() : text.substr(i + 1, end - i - 1);
        if (entity == "lt")
            out += '<';
        else if (entity == "gt")
            out += '>';
        else if (entity == "amp")
            out += '&';
        else if (entity.size() >= 2 && entity.size() <= 4 && entity[0] == '#'
                 && entity.find_first_not_of("0123456789", 1) == std::string_view::npos)
            out += static_cast<char>(ParseDecimal(entity.substr(1)) & 0xFF);
        else {
            out += '&'; // not one of ours: kept as it stands
            continue;
        }
        i = end;
    }
    return out;
}

}  // namespace text
