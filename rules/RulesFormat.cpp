#include "rules/RulesFormat.h"

#include "rules/hooksafe/Names.h"
#include "text/Strings.h"

#include <cstdint>

namespace rules::rules_format {

namespace {

constexpr std::string_view kEscapedNamePrefix = "./";
constexpr std::string_view kPathUrlPrefix = "file://";
constexpr char kParentSeparator = '/';

// The length of the UTF-8 sequence at the start of text that XML can carry
// as a character; 0 for a byte that starts none (a stray byte, an overlong
// form, a surrogate, U+FFFE and U+FFFF, or a sequence cut short).
size_t CharacterLength(std::string_view text)
{
    const auto byte = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    uint32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (byte(i) & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF) || point == 0xFFFE
        || point == 0xFFFF)
        return 0;
    return length;
}

bool IsControl(char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; }

// Whether text can stand in the file as it is.
bool IsPlain(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t length = CharacterLength(text.substr(i));
        if (length == 0 || IsControl(text[i]))
            return false;
        i += length;
    }
    return true;
}

// text with '%', control characters and bytes outside UTF-8 as %XX.
std::string PercentEscaped(std::string_view text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size();) {
        const size_t length = CharacterLength(text.substr(i));
        if (length == 0 || IsControl(text[i]) || text[i] == '%') {
            const auto byte = static_cast<uint8_t>(text[i]);
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0xF];
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Undoes PercentEscaped; a '%' not followed by two hexadecimal digits stays.
std::string PercentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Blanks alone: the text of an element that readers drop.
bool IsBlank(std::string_view text)
{
    return !text.empty() && text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

std::string ProgramName(std::string_view fileName)
{
    const std::string upper = text::ToUpper(fileName);
    if (upper != kGeneralApp && IsPlain(upper) && !IsBlank(upper))
        return upper;
    return std::string(kEscapedNamePrefix) + PercentEscaped(upper);
}

std::string FileNameOfProgram(std::string_view programName)
{
    if (!programName.starts_with(kEscapedNamePrefix))
        return std::string(programName);
    return PercentDecoded(programName.substr(kEscapedNamePrefix.size()));
}

bool EntryApplies(std::string_view entryName, std::string_view programName)
{
    if (entryName == programName || entryName == kGeneralApp)
        return true;
    // A name that needs escaping was written raw before: such an entry is
    // still the program's.
    return programName.starts_with(kEscapedNamePrefix) && entryName == FileNameOfProgram(programName);
}

std::string EntryName(std::string_view written)
{
    if (IsPlain(written))
        return std::string(written);
    // Only an upper-cased file name ever named a program: such a name
    // written raw is the program's escaped name now.
    if (text::ToUpper(written) == written)
        return std::string(kEscapedNamePrefix) + PercentEscaped(written);
    return XmlSafeText(written);
}

std::string LimitedEntryName(std::string_view programName, std::string_view parent)
{
    std::string name(programName);
    name += kParentSeparator;
    name += parent;
    return name;
}

bool IsLimitedEntryName(std::string_view entryName, std::string_view programName, std::string_view parent)
{
    return !programName.empty() && !parent.empty() && entryName.size() == programName.size() + 1 + parent.size()
        && entryName.starts_with(programName) && entryName[programName.size()] == kParentSeparator
        && entryName.ends_with(parent);
}

std::string_view LimitedProgramName(std::string_view entryName)
{
    // An escaped name's "./" is no separator.
    const size_t from = entryName.starts_with(kEscapedNamePrefix) ? kEscapedNamePrefix.size() : 0;
    const size_t at = entryName.find(kParentSeparator, from);
    return at == std::string_view::npos || at == 0 ? std::string_view() : entryName.substr(0, at);
}

std::string PathText(std::string_view path)
{
    // A path that reads like such a URL is escaped too, so that it comes back as it was.
    if (IsPlain(path) && !path.starts_with(kPathUrlPrefix))
        return std::string(path);
    return std::string(kPathUrlPrefix) + PercentEscaped(path);
}

std::string PathOfText(std::string_view text)
{
    if (!text.starts_with(kPathUrlPrefix))
        return std::string(text);
    return PercentDecoded(text.substr(kPathUrlPrefix.size()));
}

std::string XmlSafeText(std::string_view text)
{
    // Tab and line breaks are characters XML carries; the other control
    // characters are not.
    const auto carried = [](char c) { return !IsControl(c) || c == '\t' || c == '\n' || c == '\r' || c == 0x7F; };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = CharacterLength(text.substr(i));
        if (length == 0 || !carried(text[i])) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string CleanCarrierPath(std::string path)
{
    path.resize(rules::CleanCarrierPathInPlace(path.data()));
    return path;
}

std::string CarrierExeName(std::string_view exePath) { return ProgramName(text::FileNamePart(exePath)); }

}  // namespace rules::rules_format
