#include "os/Net.h"

#include "os/Files.h"
#include "os/Paths.h"

#include <arpa/inet.h>
#include <ctime>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <set>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os::net {

namespace {

constexpr time_t kKeptSeconds = 60;

std::string HostName()
{
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

}  // namespace

bool UnixSocketAddress(const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string OwnAddress()
{
    const std::string name = HostName();
    const std::string kept = RuntimePath("own-address");
    if (name.empty())
        return {};
    struct stat st {};
    if (!kept.empty() && ::stat(kept.c_str(), &st) == 0 && std::time(nullptr) - st.st_mtime < kKeptSeconds) {
        // "name<TAB>address": the answer for this name, also when it was none.
        if (const auto text = ReadFile(kept, 1024, false); text && text->starts_with(name + "\t"))
            return text->substr(name.size() + 1);
    }
    const std::string address = ResolveOwnAddress();
    if (!kept.empty())
        WriteFileAtomically(kept, name + "\t" + address, 0600, false);
    return address;
}

std::string ResolveOwnAddress()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &result) != 0 || !result)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    ::freeaddrinfo(result);
    return text;
}

std::vector<std::string> AdapterAddresses()
{
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    std::set<std::string> seen;
    for (const ifaddrs* item = list; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET || !seen.insert(item->ifa_name).second)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(item->ifa_addr)->sin_addr, text, sizeof text);
        addresses.emplace_back(text);
    }
    ::freeifaddrs(list);
    return addresses;
}

}  // namespace os::net
