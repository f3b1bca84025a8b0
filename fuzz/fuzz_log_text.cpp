// Any text between the tags of a log record: escaped it never holds what
// could end or start a record, and every reader gets it back as it was.
#include "text/Strings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string escaped = text::EscapeLogText(text);
    if (escaped.find_first_of("<>\r\n") != std::string::npos)
        std::abort();
    if (text::UnescapeLogText(escaped) != text)
        std::abort();
    // Whatever a log line holds, reading it never fails or reads past it.
    text::UnescapeLogText(text);
    return 0;
}
