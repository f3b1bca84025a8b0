// Any bytes as a ports list and a log: the readers must neither crash nor
// read outside the text, and a line is a whole record or nothing.
#include "panel/core/LogReader.h"
#include "panel/core/RuleChecks.h"
#include "protocol/LogFiles.h"
#include "protocol/RecordTime.h"
#include "text/Strings.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string portsText = input.substr(0, split);
    const std::string logText = split == std::string::npos ? input : input.substr(split + 1);
    const panel::PortNames ports = panel::PortNames::FromText(portsText);
    (void)panel::ParsePortsText(portsText);
    size_t start = 0;
    while (start <= logText.size()) {
        size_t end = logText.find('\n', start);
        if (end == std::string::npos)
            end = logText.size();
        const std::string line = logText.substr(start, end - start);
        for (const char* tag : {"DATE", "PROTOCOL", "DIRECTION", "PERMISSION", "SERVICE", "IP", "REMOTEPORT"})
            (void)panel::GetPhrase(line, tag);
        if (const auto entry = protocol::ParseLogLine(line)) {
            (void)ports.NameOf(entry->remotePort);
            (void)panel::ReasonText(entry->reason, !entry->others.empty());
            // A date read lies from the day before its file's to a month after.
            const auto read = protocol::ReadRecordTime(entry->date, entry->time, {2026, 7, 3});
            (void)protocol::IsoTime(read.when);
            if (read.dated && (read.when < 1783036800 - 2 * 86400 || read.when > 1783036800 + 33 * 86400))
                __builtin_trap();
            // A record read back is whole: written again it reads the same.
            if (entry->kind == protocol::LogEntry::Kind::kConnection && !entry->exePath.empty()
                && protocol::ParseLogLine("<EXEPATH>" + text::EscapeLogText(entry->exePath) + "</EXEPATH>")->exePath
                    != entry->exePath)
                __builtin_trap();
        }
        start = end + 1;
    }
    return 0;
}
