#pragma once

#include "rules/AddressRange.h"

#include <pugixml.hpp>
#include <sstream>
#include <string>

namespace testing_support {

// A rules document as an engine that predates IPv6 and prefixes in rules
// reads it: it knows no ADDRESSES, and adds no entry for an IP item of IPS
// it cannot read (every earlier engine's reader, as our history has it).
// Read by today's engine, it decides as such an engine would.
inline std::string AsAnOlderEngineReadsIt(pugi::xml_document& document)
{
    for (const pugi::xpath_node port : document.select_nodes("//PORT")) {
        while (port.node().remove_child("ADDRESSES")) {
        }
        for (pugi::xml_node ips = port.node().child("IPS"); ips; ips = ips.next_sibling("IPS"))
            for (pugi::xml_node ip = ips.first_child(); ip;) {
                const pugi::xml_node next = ip.next_sibling();
                if (!rules::IsIpv4Item(ip.text().get()))
                    ips.remove_child(ip);
                ip = next;
            }
    }
    std::ostringstream text;
    document.save(text, "", pugi::format_raw);
    return text.str();
}

}  // namespace testing_support
