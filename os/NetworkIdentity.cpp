#include "os/NetworkIdentity.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace os {

namespace {

// Every answer of a dump read within this; the kernel answers at once.
constexpr int kDumpWaitMs = 500;
// A dump larger than this is not read further (a table of a huge router).
constexpr size_t kMostDumpBytes = 4 << 20;

struct Gateway {
    int family = 0;
    unsigned char address[16] = {};
    int ifindex = 0;
    unsigned priority = ~0u;
};

// Sends a dump request of type for family and hands each message to fn.
template <typename Fn>
bool Dump(int type, int family, Fn&& fn)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return false;
    struct {
        nlmsghdr header;
        rtmsg body; // as large as ndmsg: the kernel reads the family of either
    } request {};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = static_cast<uint16_t>(type);
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.rtm_family = static_cast<unsigned char>(family);
    bool done = false;
    if (::send(fd, &request, request.header.nlmsg_len, 0) >= 0) {
        std::vector<char> buffer(32768);
        size_t total = 0;
        while (!done && total < kMostDumpBytes) {
            pollfd wait {fd, POLLIN, 0};
            if (::poll(&wait, 1, kDumpWaitMs) <= 0)
                break;
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0)
                break;
            total += static_cast<size_t>(got);
            auto length = static_cast<unsigned>(got);
            for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
                 message = NLMSG_NEXT(message, length)) {
                if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) {
                    done = true;
                    break;
                }
                fn(message);
            }
        }
    }
    ::close(fd);
    return done;
}

size_t AddressSize(int family) { return family == AF_INET ? 4 : 16; }

Gateway DefaultGateway()
{
    Gateway best;
    for (const int family : {AF_INET, AF_INET6}) {
        Dump(RTM_GETROUTE, family, [&](const nlmsghdr* message) {
            if (message->nlmsg_type != RTM_NEWROUTE)
                return;
            const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
            if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST)
                return;
            unsigned table = route->rtm_table;
            Gateway found;
            found.family = route->rtm_family;
            bool haveGateway = false;
            unsigned length = RTM_PAYLOAD(message);
            for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, length);
                 attribute = RTA_NEXT(attribute, length)) {
                const size_t size = RTA_PAYLOAD(attribute);
                if (attribute->rta_type == RTA_TABLE && size >= 4)
                    std::memcpy(&table, RTA_DATA(attribute), 4);
                else if (attribute->rta_type == RTA_OIF && size >= 4)
                    std::memcpy(&found.ifindex, RTA_DATA(attribute), 4);
                else if (attribute->rta_type == RTA_PRIORITY && size >= 4)
                    std::memcpy(&found.priority, RTA_DATA(attribute), 4);
                else if (attribute->rta_type == RTA_GATEWAY && size == AddressSize(found.family)) {
                    std::memcpy(found.address, RTA_DATA(attribute), size);
                    haveGateway = true;
                }
            }
            // IPv4's gateway first; within a family the route the kernel prefers.
            if (table == RT_TABLE_MAIN && haveGateway && (best.family == 0 || (best.family == found.family && found.priority < best.priority)))
                best = found;
        });
        if (best.family != 0)
            break;
    }
    return best;
}

std::string HardwareAddress(const Gateway& gateway)
{
    std::string mac;
    Dump(RTM_GETNEIGH, gateway.family, [&](const nlmsghdr* message) {
        if (message->nlmsg_type != RTM_NEWNEIGH || !mac.empty())
            return;
        const auto* neighbour = static_cast<const ndmsg*>(NLMSG_DATA(message));
        if (neighbour->ndm_ifindex != gateway.ifindex || (neighbour->ndm_state & (NUD_INCOMPLETE | NUD_FAILED)))
            return;
        bool same = false;
        const unsigned char* hardware = nullptr;
        size_t hardwareSize = 0;
        unsigned length = message->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg));
        for (const auto* attribute = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(neighbour) + NLMSG_ALIGN(sizeof(ndmsg)));
             RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
            const size_t size = RTA_PAYLOAD(attribute);
            if (attribute->rta_type == NDA_DST)
                same = size == AddressSize(gateway.family) && !std::memcmp(RTA_DATA(attribute), gateway.address, size);
            else if (attribute->rta_type == NDA_LLADDR && size > 0 && size <= 32) {
                hardware = static_cast<const unsigned char*>(RTA_DATA(attribute));
                hardwareSize = size;
            }
        }
        if (!same || !hardware)
            return;
        for (size_t i = 0; i < hardwareSize; ++i) {
            char part[4];
            std::snprintf(part, sizeof part, i ? ":%02x" : "%02x", hardware[i]);
            mac += part;
        }
    });
    return mac;
}

}  // namespace

std::string GatewayNetworkId()
{
    const Gateway gateway = DefaultGateway();
    if (gateway.family == 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(gateway.family, gateway.address, text, sizeof text))
        return {};
    const std::string mac = HardwareAddress(gateway);
    return "gw:" + std::string(text) + (mac.empty() ? "" : "/" + mac);
}

std::string EscapeNetworkText(std::string_view bytes)
{
    std::string out;
    const auto escape = [&out](unsigned char c) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
    };
    for (size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t length = c >= 0xc2 && c < 0xe0 ? 2 : c >= 0xe0 && c < 0xf0 ? 3 : c >= 0xf0 && c < 0xf5 ? 4 : 0;
        bool clean = length > 0 && i + length <= bytes.size();
        unsigned value = c & (0x7f >> length);
        for (size_t k = 1; clean && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            clean = (next & 0xc0) == 0x80;
            value = (value << 6) | (next & 0x3f);
        }
        clean = clean && !(length == 3 && value < 0x800) && !(length == 4 && (value < 0x10000 || value > 0x10ffff))
            && !(value >= 0xd800 && value <= 0xdfff) && !(value >= 0x80 && value < 0xa0);
        if (!clean) {
            escape(c);
            ++i;
            continue;
        }
        out.append(bytes.substr(i, length));
        i += length;
    }
    return out;
}

RouteWatch::RouteWatch()
{
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd_ < 0)
        return;
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_NEIGH | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_IFADDR
        | RTMGRP_IPV6_IFADDR;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RouteWatch::~RouteWatch()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void RouteWatch::FollowNeighbour(std::string_view id)
{
    family_ = 0;
    if (!id.starts_with("gw:"))
        return;
    const std::string address(id.substr(3, id.find('/') == std::string_view::npos ? id.npos : id.find('/') - 3));
    if (::inet_pton(AF_INET, address.c_str(), neighbour_) == 1)
        family_ = AF_INET;
    else if (::inet_pton(AF_INET6, address.c_str(), neighbour_) == 1)
        family_ = AF_INET6;
}

bool RouteWatch::Counts(const nlmsghdr* message) const
{
    if (message->nlmsg_type != RTM_NEWNEIGH && message->nlmsg_type != RTM_DELNEIGH)
        return true;
    const auto* neighbour = static_cast<const ndmsg*>(NLMSG_DATA(message));
    if (family_ == 0 || neighbour->ndm_family != family_ || message->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
        return false;
    unsigned length = message->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg));
    for (const auto* attribute = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(neighbour) + NLMSG_ALIGN(sizeof(ndmsg)));
         RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length))
        if (attribute->rta_type == NDA_DST)
            return RTA_PAYLOAD(attribute) == AddressSize(family_) && !std::memcmp(RTA_DATA(attribute), neighbour_, AddressSize(family_));
    return false;
}

bool RouteWatch::Drain()
{
    bool any = false;
    alignas(nlmsghdr) char buffer[8192];
    // Bounded: a flood of notices is read in a burst at most this long.
    for (int i = 0; i < 256; ++i) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            auto length = static_cast<unsigned>(got);
            for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, length);
                 message = NLMSG_NEXT(message, length))
                any |= Counts(message);
            continue;
        }
        // An overrun lost notices: something changed.
        if (got < 0 && errno == ENOBUFS) {
            any = true;
            continue;
        }
        break;
    }
    return any;
}

}  // namespace os
