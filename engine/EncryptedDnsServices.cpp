#include "engine/EncryptedDnsServices.h"

#include "rules/HostListParser.h"

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

constexpr unsigned kPlainDnsPort = 53;

}  // namespace

EncryptedDnsServices::EncryptedDnsServices(std::string_view text)
{
    const rules::HostList list = rules::ParseHostList(text);
    for (const rules::HostListName& name : list.names)
        (name.below ? domains_ : names_).emplace_back(list.Name(name));
    std::sort(names_.begin(), names_.end());
    std::sort(domains_.begin(), domains_.end());
    addresses_ = list.addresses;
}

const EncryptedDnsServices& EncryptedDnsServices::Shipped()
{
    static const EncryptedDnsServices* const shipped = new EncryptedDnsServices();
    return *shipped;
}

bool EncryptedDnsServices::Named(std::string_view name) const
{
    if (std::binary_search(names_.begin(), names_.end(), name))
        return true;
    // The name and each domain above it, against the entries that cover names under them.
    for (std::string_view part = name; !part.empty();) {
        if (std::binary_search(domains_.begin(), domains_.end(), part))
            return true;
        const size_t dot = part.find('.');
        part = dot == std::string_view::npos ? std::string_view() : part.substr(dot + 1);
    }
    return false;
}

bool EncryptedDnsServices::Serves(const Connection& connection, const char* hostName) const
{
    // Plain DNS to the same servers (port 53) is read by the hook as it goes.
    if (connection.Incoming() || connection.remotePort == kPlainDnsPort)
        return false;
    if (connection.address
        && std::any_of(addresses_.begin(), addresses_.end(),
                       [&](const rules::AddressRange& range) { return range.Covers(*connection.address); }))
        return true;
    if (hostName && Named(hostName))
        return true;
    for (unsigned i = 0; i < connection.nameCount; ++i)
        if (connection.names[i] && Named(connection.names[i]))
            return true;
    return false;
}

}  // namespace engine
