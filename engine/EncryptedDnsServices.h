#pragma once

#include "engine/Connection.h"
#include "rules/AddressRange.h"

#include <string>
#include <string_view>
#include <vector>

namespace engine {

// The shipped list of encrypted DNS services (data/EncryptedDnsResolvers.txt),
// compiled into the engine: a program that connects to one of them looks
// names up out of the firewall's sight, and its record and alert say so,
// whether or not the user added the list to refuse them.
extern const std::string_view kEncryptedDnsResolversText;

class EncryptedDnsServices {
public:
    // The list read from text once; what does not read as a host list's line adds nothing.
    explicit EncryptedDnsServices(std::string_view text = kEncryptedDnsResolversText);
    // The shipped list, read at its first use and kept for the process's life
    // (threads still deciding while the program exits may read it).
    static const EncryptedDnsServices& Shipped();

    // Whether an outgoing connection goes to such a service, but for plain
    // DNS (port 53): by its address, by the name given (normalised, may be
    // null) or by one of the connection's names.
    bool Serves(const Connection& connection, const char* hostName) const;

private:
    bool Named(std::string_view name) const;

    std::vector<std::string> names_; // sorted
    std::vector<std::string> domains_; // sorted: these and every name under them
    std::vector<rules::AddressRange> addresses_;
};

}  // namespace engine
