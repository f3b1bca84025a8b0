// What the hook remembers between calls, tested without a program around it.
#include "Datagrams.h"
#include "Names.h"
#include "Peer.h"
#include "SocketTable.h"

#include <arpa/inet.h>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <vector>
#include <gtest/gtest.h>

using namespace hook;

namespace {

Peer MakePeer(const char* address, unsigned port)
{
    Peer peer;
    std::snprintf(peer.address, sizeof peer.address, "%s", address);
    peer.port = port;
    return peer;
}

constexpr int kIn = 0;
constexpr int kOut = 1;

}  // namespace

// A program connecting over IPv6 to an IPv4 host sees it as ::ffff:a.b.c.d;
// the engine is told a.b.c.d, and the alert must still name the host.
TEST(HookNames, MappedAddressesKeepTheNameTheProgramLookedUp)
{
    sockaddr_in6 mapped {};
    mapped.sin6_family = AF_INET6;
    ASSERT_EQ(::inet_pton(AF_INET6, "::ffff:10.1.2.3", &mapped.sin6_addr), 1);
    RememberName("mail.example.org", reinterpret_cast<sockaddr*>(&mapped));
    Peer peer;
    ASSERT_TRUE(DescribePeer(reinterpret_cast<sockaddr*>(&mapped), peer));
    EXPECT_STREQ(peer.address, "10.1.2.3");
    char name[256];
    ASSERT_TRUE(NameOf(peer.address, name, sizeof name));
    EXPECT_STREQ(name, "mail.example.org");
    EXPECT_FALSE(NameOf("10.1.2.4", name, sizeof name));
}

TEST(HookDatagrams, VerdictsArePerPeerAndHoldForTheirEpochOnly)
{
    const int fd = 40001;
    ForgetDatagrams(fd);
    const Peer a = MakePeer("10.0.0.1", 53), b = MakePeer("10.0.0.2", 53);
    RememberVerdict(fd, kOut, a, true, 7);
    RememberVerdict(fd, kOut, b, false, 7);
    EXPECT_EQ(RecallVerdict(fd, kOut, a, 7), Recalled::kPermitted);
    EXPECT_EQ(RecallVerdict(fd, kOut, b, 7), Recalled::kDenied);
    EXPECT_EQ(RecallVerdict(fd, kIn, a, 7), Recalled::kNothing); // the other direction is its own
    EXPECT_EQ(RecallVerdict(fd, kOut, MakePeer("10.0.0.1", 54), 7), Recalled::kNothing);
    // Rules reloaded, block-all switched: asked again.
    EXPECT_EQ(RecallVerdict(fd, kOut, a, 8), Recalled::kNothing);
    ForgetDatagrams(fd);
    EXPECT_EQ(RecallVerdict(fd, kOut, b, 7), Recalled::kNothing);
}

TEST(HookDatagrams, AnswerToADatagramLetInIsPartOfTheExchange)
{
    const int fd = 40002;
    ForgetDatagrams(fd);
    const Peer client = MakePeer("10.0.0.9", 40000);
    RememberVerdict(fd, kIn, client, true, 1);
    EXPECT_EQ(RecallVerdict(fd, kOut, client, 1), Recalled::kPermitted);
    const Peer refused = MakePeer("10.0.0.10", 40000);
    RememberVerdict(fd, kIn, refused, false, 1);
    EXPECT_EQ(RecallVerdict(fd, kOut, refused, 1), Recalled::kNothing);
}

TEST(HookDatagrams, ManyPeersPushOutTheOneUsedLongestAgo)
{
    const int fd = 40003;
    ForgetDatagrams(fd);
    const Peer kept = MakePeer("10.1.0.0", 1);
    RememberVerdict(fd, kOut, kept, true, 1);
    for (unsigned i = 1; i < 100; ++i) {
        char address[32];
        std::snprintf(address, sizeof address, "10.1.0.%u", i);
        RememberVerdict(fd, kOut, MakePeer(address, 1), true, 1);
        EXPECT_EQ(RecallVerdict(fd, kOut, kept, 1), Recalled::kPermitted) << i; // in use: stays
    }
    EXPECT_EQ(RecallVerdict(fd, kOut, MakePeer("10.1.0.1", 1), 1), Recalled::kNothing);
}

TEST(HookSocketTable, WhatIsKnownOfADescriptorGoesWithIt)
{
    const int fd = 40004;
    SetKind(fd, kUdpSocket);
    SetBoundPort(fd, 5353, true);
    SetDecidedPeer(fd, 42);
    EXPECT_EQ(KnownKind(fd), kUdpSocket);
    EXPECT_EQ(LocalPortOf(fd), 5353u);
    EXPECT_EQ(DecidedPeer(fd), 42u);
    Forget(fd);
    EXPECT_EQ(KnownKind(fd), kUnknown);
    EXPECT_EQ(DecidedPeer(fd), 0u);
    EXPECT_NE(PeerHash(MakePeer("10.0.0.1", 80)), PeerHash(MakePeer("10.0.0.1", 81)));
}

namespace {

std::vector<std::string> CommandLines(const std::string& command)
{
    std::vector<std::string> lines;
    FILE* pipe = ::popen(command.c_str(), "r");
    char line[1024];
    while (pipe && std::fgets(line, sizeof line, pipe))
        lines.emplace_back(line);
    if (pipe)
        ::pclose(pipe);
    return lines;
}

}  // namespace

// Loaded into every program at its start: it brings nothing along but
// itself, and puts nothing into the program's namespace but its wrappers.
TEST(HookLibrary, NeedsOnlyTheCLibraryAndExportsOnlyItsWrappers)
{
    std::vector<std::string> needed;
    for (const auto& line : CommandLines("readelf -d '" HOOK_LIBRARY "'"))
        if (const size_t at = line.find("Shared library: ["); at != std::string::npos)
            needed.push_back(line.substr(at + 17, line.find(']') - at - 17));
    EXPECT_EQ(needed, std::vector<std::string> {"libc.so.6"});
    for (const auto& line : CommandLines("nm -D --defined-only '" HOOK_LIBRARY "'")) {
        const std::string name = line.substr(line.rfind(' ') + 1, line.size() - line.rfind(' ') - 2);
        EXPECT_EQ(name.find("_Z"), std::string::npos) << name; // no C++ symbol
        EXPECT_TRUE(::dlsym(RTLD_DEFAULT, name.c_str()) != nullptr || name == "zel_hook_link") << name;
    }
}
