#include "panel/core/BackstopNotice.h"

#include "text/Translate.h"

#include <sstream>

namespace panel {

std::optional<BackstopNotice> ParseBackstopNotice(const std::string& data)
{
    std::istringstream in(data);
    std::string verdict, address, port;
    if (!(in >> verdict >> address >> port) || (verdict != "denied" && verdict != "passed" && verdict != "asked"))
        return std::nullopt;
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    if (address.find_first_not_of("0123456789abcdefABCDEF.:") != std::string::npos)
        return std::nullopt;
    BackstopNotice notice;
    std::getline(in >> std::ws, notice.program);
    if (notice.program.empty() || notice.program.find_first_of("\r\n") != std::string::npos)
        return std::nullopt;
    notice.asked = verdict == "asked";
    notice.denied = verdict != "passed";
    notice.address = address;
    notice.port = static_cast<unsigned>(std::stoul(port));
    if (notice.port > 65535)
        return std::nullopt;
    const std::string peer = (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" + port;
    const auto say = [&](const char* text) {
        return text::Arg(text::Tr("BackstopNotice", text), {notice.program, peer});
    };
    if (notice.asked) {
        notice.summary = say(ZEL_TEXT_NOOP("BackstopNotice", "Asked, not under the firewall: %1 to %2"));
        notice.title = text::Tr("BackstopNotice", "A program was blocked until you decide");
        notice.text = say(ZEL_TEXT_NOOP("BackstopNotice",
                                        "%1 tried to connect to %2 without the firewall in it (a static or set-user-ID "
                                        "program, or one started without it). Your rules say to ask, and the kernel "
                                        "cannot wait for an answer: it was blocked. Allow or block it from now on in "
                                        "the alert."));
    } else if (notice.denied) {
        notice.summary = say(ZEL_TEXT_NOOP("BackstopNotice", "Blocked, not under the firewall: %1 to %2"));
        notice.title = text::Tr("BackstopNotice", "A program was blocked");
        notice.text = say(ZEL_TEXT_NOOP("BackstopNotice",
                                        "%1 tried to connect to %2 without the firewall in it (a static or set-user-ID "
                                        "program, or one started without it), and was blocked. Start it with \"zel-run "
                                        "%1\" to have your rules decide its connections."));
    } else {
        notice.summary = say(ZEL_TEXT_NOOP("BackstopNotice", "Not under the firewall: %1 to %2"));
        notice.title = text::Tr("BackstopNotice", "A program connected without the firewall");
        notice.text = say(ZEL_TEXT_NOOP("BackstopNotice",
                                        "%1 connected to %2 without the firewall in it (a static or set-user-ID program, "
                                        "or one started without it): no rule decided it. Start it with \"zel-run %1\" "
                                        "to have your rules decide its connections."));
    }
    return notice;
}

}  // namespace panel
