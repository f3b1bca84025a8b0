#include "panel/core/BackstopNotice.h"

#include "text/Translate.h"

#include <sstream>

namespace panel {

namespace {

// What is said of each verdict, outgoing and incoming: the summary, the
// title and the text. %1 the program, %2 the peer, %3 (incoming) the
// program's port.
struct NoticeTexts {
    const char* summary;
    const char* title;
    const char* text;
};

const NoticeTexts kOutgoing[] = {
    {ZEL_TEXT_NOOP("BackstopNotice", "Not under the firewall: %1 to %2"),
     ZEL_TEXT_NOOP("BackstopNotice", "A program connected without the firewall"),
     ZEL_TEXT_NOOP("BackstopNotice",
                   "%1 connected to %2 without the firewall in it (a static or set-user-ID program, or one started "
                   "without it): no rule decided it. Start it with \"zel-run %1\" to have your rules decide its "
                   "connections.")},
    {ZEL_TEXT_NOOP("BackstopNotice", "Blocked, not under the firewall: %1 to %2"),
     ZEL_TEXT_NOOP("BackstopNotice", "A program was blocked"),
     ZEL_TEXT_NOOP("BackstopNotice",
                   "%1 tried to connect to %2 without the firewall in it (a static or set-user-ID program, or one "
                   "started without it), and was blocked. Start it with \"zel-run %1\" to have your rules decide its "
                   "connections.")},
    {ZEL_TEXT_NOOP("BackstopNotice", "Asked, not under the firewall: %1 to %2"),
     ZEL_TEXT_NOOP("BackstopNotice", "A program was blocked until you decide"),
     ZEL_TEXT_NOOP("BackstopNotice",
                   "%1 tried to connect to %2 without the firewall in it (a static or set-user-ID program, or one "
                   "started without it). Your rules say to ask, and the kernel cannot wait for an answer: it was "
                   "blocked. Allow or block it from now on in the alert.")},
};

const NoticeTexts kIncoming[] = {
    {ZEL_TEXT_NOOP("BackstopNotice", "Not under the firewall: %2 to %1 on port %3"),
     ZEL_TEXT_NOOP("BackstopNotice", "A program was connected to without the firewall"),
     ZEL_TEXT_NOOP("BackstopNotice",
                   "%2 connected to %1 on its port %3 without the firewall in the program (a static or set-user-ID "
                   "program, or one started without it): no rule decided it. Start it with \"zel-run %1\" to have "
                   "your rules decide its connections.")},
    {ZEL_TEXT_NOOP("BackstopNotice", "Blocked, not under the firewall: %2 to %1 on port %3"),
     ZEL_TEXT_NOOP("BackstopNotice", "A connection to a program was blocked"),
     ZEL_TEXT_NOOP("BackstopNotice",
                   "%2 tried to connect to %1 on its port %3 without the firewall in the program (a static or "
                   "set-user-ID program, or one started without it), and was blocked before the program read "
                   "anything. Start it with \"zel-run %1\" to have your rules decide its connections.")},
    {ZEL_TEXT_NOOP("BackstopNotice", "Asked, not under the firewall: %2 to %1 on port %3"),
     ZEL_TEXT_NOOP("BackstopNotice", "A connection to a program was blocked until you decide"),
     ZEL_TEXT_NOOP("BackstopNotice",
                   "%2 tried to connect to %1 on its port %3 without the firewall in the program (a static or "
                   "set-user-ID program, or one started without it). Your rules say to ask, and the kernel cannot "
                   "wait for an answer: it was blocked. Allow or block it from now on in the alert.")},
};

}  // namespace

std::optional<BackstopNotice> ParseBackstopNotice(const std::string& data)
{
    std::istringstream in(data);
    std::string verdict, address, port;
    if (!(in >> verdict >> address >> port))
        return std::nullopt;
    BackstopNotice notice;
    notice.incoming = verdict.ends_with("-in");
    if (notice.incoming)
        verdict.resize(verdict.size() - 3);
    if (verdict != "denied" && verdict != "passed" && verdict != "asked")
        return std::nullopt;
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    if (address.find_first_not_of("0123456789abcdefABCDEF.:") != std::string::npos)
        return std::nullopt;
    std::getline(in >> std::ws, notice.program);
    if (notice.program.empty() || notice.program.find_first_of("\r\n") != std::string::npos)
        return std::nullopt;
    notice.asked = verdict == "asked";
    notice.denied = verdict != "passed";
    notice.address = address;
    notice.port = static_cast<unsigned>(std::stoul(port));
    if (notice.port > 65535)
        return std::nullopt;
    // Outgoing the peer with its port; incoming the peer alone, the port the program's.
    const bool ipv6 = address.find(':') != std::string::npos;
    const std::string peer = notice.incoming ? address : (ipv6 ? "[" + address + "]" : address) + ":" + port;
    const NoticeTexts& texts = (notice.incoming ? kIncoming : kOutgoing)[notice.asked ? 2 : notice.denied ? 1 : 0];
    const auto say = [&](const char* text) {
        return text::Arg(text::Tr("BackstopNotice", text), {notice.program, peer, port});
    };
    notice.summary = say(texts.summary);
    notice.title = text::Tr("BackstopNotice", texts.title);
    notice.text = say(texts.text);
    return notice;
}

}  // namespace panel
