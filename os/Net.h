#pragma once

#include <string>
#include <sys/un.h>
#include <vector>

namespace os::net {

// The first IPv4 address the local host name resolves to, as a dotted quad;
// empty when the name or the lookup fails. Every networked program asks at
// its first decision, and the lookup may go out to a name server: the answer
// is kept in the user's runtime folder for a minute.
std::string OwnAddress();
// The same without the kept answer.
std::string ResolveOwnAddress();

// A local socket's address for path; false when the path is too long for
// one (never cut short: a shorter path is another socket).
bool UnixSocketAddress(const std::string& path, sockaddr_un& address);

// The first IPv4 address of every interface that has one, in system order.
std::vector<std::string> AdapterAddresses();

}  // namespace os::net
