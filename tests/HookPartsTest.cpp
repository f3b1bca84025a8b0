// What the hook remembers between calls, tested without a program around it.
#include "Datagrams.h"
#include "Names.h"
#include "Peer.h"
#include "SocketTable.h"

#include <arpa/inet.h>
#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
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

sockaddr_in V4(const std::string& text)
{
    sockaddr_in in {};
    in.sin_family = AF_INET;
    ::inet_pton(AF_INET, text.c_str(), &in.sin_addr);
    return in;
}

std::string Known(const std::string& address)
{
    char name[256];
    return NameOf(address.c_str(), name, sizeof name) ? std::string(name) : std::string();
}

TEST(HookNames, KeptInNormalFormAndTheLatestLookupCounts)
{
    sockaddr_in a = V4("10.2.0.1");
    RememberName("WWW.Example.ORG.", reinterpret_cast<sockaddr*>(&a));
    EXPECT_EQ(Known("10.2.0.1"), "www.example.org");
    RememberName("cdn.example.net", reinterpret_cast<sockaddr*>(&a));
    EXPECT_EQ(Known("10.2.0.1"), "cdn.example.net");
    sockaddr_in b = V4("10.2.0.2");
    for (const char* notAName : {"10.2.0.2", "bad name", "", "a..b"})
        RememberName(notAName, reinterpret_cast<sockaddr*>(&b));
    EXPECT_EQ(Known("10.2.0.2"), "");
    EXPECT_EQ(Known("not an address"), "");
}

// More addresses than places: an address that gave way is unknown, never
// named after another; the newest are known.
TEST(HookNames, AddressesThatGiveWayAreUnknownNeverMisnamed)
{
    const auto address = [](int i) { return "10.3." + std::to_string(i / 256) + "." + std::to_string(i % 256); };
    for (int i = 0; i < 5000; ++i) {
        sockaddr_in in = V4(address(i));
        RememberName(("host" + std::to_string(i) + ".example").c_str(), reinterpret_cast<sockaddr*>(&in));
    }
    int known = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string name = Known(address(i));
        if (name.empty())
            continue;
        ++known;
        EXPECT_EQ(name, "host" + std::to_string(i) + ".example") << address(i);
    }
    EXPECT_GT(known, 500);
    EXPECT_EQ(Known(address(4999)), "host4999.example");
}

// Lookups racing decisions and forks: a reader sees a whole name of the
// address it asked for, or none. Run under ThreadSanitizer by the test command.
TEST(HookNames, ReadersRacingWritersAndForksSeeWholeNamesOnly)
{
    constexpr int kAddresses = 64;
    std::atomic<bool> stop {false};
    std::atomic<int> wrong {0};
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w)
        threads.emplace_back([&, w] {
            for (int i = 0; i < 20000 && !stop; ++i) {
                const int n = (i * 7 + w) % kAddresses;
                sockaddr_in in = V4("10.4.0." + std::to_string(n));
                const std::string name = "a" + std::to_string(n) + (i % 2 ? ".long-enough-name.example" : ".x");
                RememberName(name.c_str(), reinterpret_cast<sockaddr*>(&in));
            }
        });
    for (int r = 0; r < 2; ++r)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                const int n = i % kAddresses;
                const std::string name = Known("10.4.0." + std::to_string(n));
                const std::string prefix = "a" + std::to_string(n) + ".";
                if (!name.empty() && name != prefix + "long-enough-name.example" && name != prefix + "x")
                    ++wrong;
            }
        });
    for (int f = 0; f < 5; ++f) {
        LockNamesForFork();
        const pid_t child = ::fork();
        UnlockNamesAfterFork();
        if (child == 0) {
            // The child keeps its parent's names and may look more up.
            sockaddr_in in = V4("10.4.1.1");
            RememberName("child.example", reinterpret_cast<sockaddr*>(&in));
            ::_exit(Known("10.4.1.1") == "child.example" ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
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
