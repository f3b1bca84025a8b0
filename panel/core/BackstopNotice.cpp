#include "core/BackstopNotice.h"

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
    const std::string how = "Start it with \"zel-run " + notice.program + "\" to have your rules decide its connections.";
    notice.summary = (notice.asked ? "Asked, not under the firewall: "
                          : notice.denied ? "Blocked, not under the firewall: "
                                          : "Not under the firewall: ")
        + notice.program + " to " + peer;
    if (notice.asked) {
        notice.title = "A program was blocked until you decide";
        notice.text = notice.program + " tried to connect to " + peer
            + " without the firewall in it (a static or set-user-ID program, or one started without it). Your rules"
              " say to ask, and the kernel cannot wait for an answer: it was blocked. Allow or block it from now on"
              " in the alert.";
    } else if (notice.denied) {
        notice.title = "A program was blocked";
        notice.text = notice.program + " tried to connect to " + peer
            + " without the firewall in it (a static or set-user-ID program, or one started without it), and was"
              " blocked. "
            + how;
    } else {
        notice.title = "A program connected without the firewall";
        notice.text = notice.program + " connected to " + peer
            + " without the firewall in it (a static or set-user-ID program, or one started without it): no rule"
              " decided it. "
            + how;
    }
    return notice;
}

}  // namespace panel
