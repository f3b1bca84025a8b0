#include "rules/ProgramNames.h"

#include "rules/RulesFormat.h"
#include "text/Strings.h"

#include <array>
#include <cstdio>

namespace rules::program_names {

namespace {

// The length of the UTF-8 sequence at the start of text, 0 when it is not one.
size_t SequenceLength(std::string_view text, char32_t& code)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3f);
    }
    // Overlong forms, surrogates and code points past Unicode's end are no text.
    constexpr std::array<char32_t, 5> kLeast {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
        return 0;
    return length;
}

// Characters that reorder text or take no room: a name holding one could
// pass for another ("cu\u200brl" for curl).
bool Hides(char32_t code)
{
    return code == 0x00ad || code == 0x061c || code == 0x180e || (code >= 0x200b && code <= 0x200f)
        || (code >= 0x2028 && code <= 0x202e) || (code >= 0x2060 && code <= 0x206f) || code == 0xfeff
        || (code >= 0xfff9 && code <= 0xfffb);
}

std::string Shown(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    char spelled[16];
    while (!text.empty()) {
        char32_t code = 0;
        const size_t length = SequenceLength(text, code);
        if (length == 0 || code < 0x20 || code == 0x7f) {
            std::snprintf(spelled, sizeof spelled, "\\x%02x", static_cast<unsigned char>(text.front()));
            out += spelled;
            text.remove_prefix(1);
            continue;
        }
        if ((code >= 0x80 && code < 0xa0) || Hides(code)) {
            std::snprintf(spelled, sizeof spelled, "\\u{%04x}", static_cast<unsigned>(code));
            out += spelled;
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out;
}

struct Language {
    std::string_view program;
    std::string_view name;
};

// Interpreters by their language, longest name first where one starts another.
constexpr std::array<Language, 8> kLanguages {{
    {"python", "Python"},
    {"nodejs", "Node.js"},
    {"node", "Node.js"},
    {"perl", "Perl"},
    {"ruby", "Ruby"},
    {"java", "Java"},
    {"php", "PHP"},
    {"lua", "Lua"},
}};

// "Python 3.11" for python3.11, "Perl" for perl; empty for another program.
std::string LanguageName(std::string_view fileName)
{
    for (const Language& language : kLanguages) {
        if (!fileName.starts_with(language.program))
            continue;
        const std::string_view version = fileName.substr(language.program.size());
        if (version.find_first_not_of("0123456789.") != std::string_view::npos || version.starts_with('.'))
            continue;
        return version.empty() ? std::string(language.name) : std::string(language.name) + " " + std::string(version);
    }
    return {};
}

}  // namespace

std::string DisplayName(std::string_view path, std::string_view description)
{
    const std::string_view fileName = text::FileNamePart(path);
    const bool standIn = !fileName.empty()
        && (description == rules_format::ProgramName(fileName) || description == text::ToUpper(fileName));
    if (!description.empty() && !standIn)
        return Shown(description);
    return Shown(fileName);
}

std::string DisplayName(std::string_view scriptPath, std::string_view interpreterPath,
                        std::string_view interpreterDescription)
{
    std::string interpreter = LanguageName(text::FileNamePart(interpreterPath));
    if (interpreter.empty())
        interpreter = DisplayName(interpreterPath, interpreterDescription);
    return DisplayName(scriptPath, std::string_view()) + " (" + interpreter + ")";
}

}  // namespace rules::program_names
