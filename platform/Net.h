#pragma once

#include <string>
#include <vector>

namespace platform::net {

// The first IPv4 address the local host name resolves to, as a dotted quad;
// empty when the name or the lookup fails.
std::string OwnAddress();

// The first IPv4 address of every interface that has one, in system order.
std::vector<std::string> AdapterAddresses();

}  // namespace platform::net
