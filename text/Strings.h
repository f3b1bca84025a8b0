#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// Decimal conversion as the settings readers expect it: leading blanks, an
// optional sign, then digits; conversion stops at the first other character
// and no digits give 0. Saturates instead of overflowing.
int64_t ParseDecimal(std::string_view text);

std::string ToUpper(std::string_view text);
// The text without the blanks and line breaks around it.
std::string_view TrimBlanks(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
// The words of the text, split at blanks and line breaks; at most `most`
// (the rest is not looked at), so that a caller wanting N words asks for N+1
// to learn that there were more.
std::vector<std::string_view> Words(std::string_view text, size_t most);
// The word in a column (1-based) of a line of words apart by spaces, as the
// kernel's tables are; empty when the line has fewer.
std::string_view Column(std::string_view line, int wanted);

// Calls fn with each line of the text, without its '\n'; a last line
// without one is a line too.
template <typename Fn>
void ForEachLine(std::string_view text, Fn&& fn)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        fn(text.substr(start, end - start));
        start = end + 1;
    }
}

// The part after the last '/', or the whole text when there is none.
std::string_view FileNamePart(std::string_view path);

// One line of text as the alert program's input carries it: backslash,
// newline, carriage return and tab escaped with a backslash.
std::string EscapeLine(std::string_view text);
std::string UnescapeLine(std::string_view text);

// Text that goes between the tags of a log record: "<", ">", "&" and control
// characters become "&lt;", "&gt;", "&amp;" and "&#N;", so that no program
// path, description or name can end a record or forge one. Every reader of
// the log undoes it with UnescapeLogText.
std::string EscapeLogText(std::string_view text);
bool NeedsLogEscaping(std::string_view text);
void AppendEscapedLogText(std::string& out, std::string_view text);
std::string UnescapeLogText(std::string_view text);

}  // namespace text
