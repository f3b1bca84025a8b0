// What the hook remembers between calls, tested without a program around it.
#include "hook/decisions/Datagrams.h"
#include "hook/names/DnsReplies.h"
#include "hook/names/Names.h"
#include "hook/descriptors/Peer.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/descriptors/SocketView.h"
#include "tests/DnsMessage.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <cstdio>
#include <dlfcn.h>
#include <functional>
#include <cstring>
#include <set>
#include <string>
#include <vector>
#include <algorithm>
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

TEST(HookNames, AnAddressKeepsEveryNameItWasLookedUpByWhateverTheOrder)
{
    // Two threads look one address up by two names over and over: both are
    // known afterwards, however their lookups interleaved.
    for (int round = 0; round < 20; ++round) {
        const std::string address = "10.5.0." + std::to_string(round);
        sockaddr_in in = V4(address);
        std::atomic<int> go {0};
        std::vector<std::thread> threads;
        for (const char* name : {"www.example.org", "ads.example.org"})
            threads.emplace_back([&, name] {
                ++go;
                while (go < 2) {
                }
                for (int i = 0; i < 200; ++i)
                    RememberName(name, reinterpret_cast<sockaddr*>(&in));
            });
        for (std::thread& thread : threads)
            thread.join();
        KnownNames known;
        NamesOf(address.c_str(), known);
        ASSERT_EQ(known.count, 2u) << address;
        const std::set<std::string> names {known.names[0], known.names[1]};
        EXPECT_EQ(names, (std::set<std::string> {"www.example.org", "ads.example.org"}));
    }
    // A fifth name pushes out the one learnt longest ago; a name learnt
    // again moves to the front.
    sockaddr_in in = V4("10.5.1.1");
    for (const char* name : {"a.example", "b.example", "c.example", "d.example", "a.example", "e.example"})
        RememberName(name, reinterpret_cast<sockaddr*>(&in));
    KnownNames known;
    NamesOf("10.5.1.1", known);
    ASSERT_EQ(known.count, kNamesPerAddress);
    EXPECT_STREQ(known.names[0], "e.example");
    EXPECT_STREQ(known.names[1], "a.example");
    EXPECT_STREQ(known.names[3], "c.example"); // b.example gave way
}

// An address looked up again and again while a connection to it is decided
// is never read as unknown for the moment its names are rewritten: a rule
// denying one of its names would otherwise be passed by a lookup racing the
// connect (the reader once gave up after four looks at a slot being written).
TEST(AttackNamesUnderRewrite, AnAddressLookedUpAgainKeepsItsNamesForEveryReader)
{
    sockaddr_in in = V4("10.5.2.1");
    RememberName("ads.example.org", reinterpret_cast<sockaddr*>(&in));
    RememberName("www.example.org", reinterpret_cast<sockaddr*>(&in));
    std::atomic<bool> done {false};
    std::vector<std::thread> writers;
    for (const char* name : {"www.example.org", "ads.example.org"})
        writers.emplace_back([&, name] {
            for (int i = 0; i < 200000 && !done; ++i)
                RememberName(name, reinterpret_cast<sockaddr*>(&in));
        });
    int reads = 0, withoutAds = 0;
    for (; reads < 200000; ++reads) {
        KnownNames known;
        NamesOf("10.5.2.1", known);
        bool ads = false;
        for (unsigned i = 0; i < known.count; ++i)
            ads = ads || std::strcmp(known.names[i], "ads.example.org") == 0;
        withoutAds += !ads;
    }
    done = true;
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(withoutAds, 0) << "of " << reads << " reads";
}

// ---- DNS answers -------------------------------------------------------------------

namespace {

using testing_support::DnsMessage;

DnsMessage Answer(const std::string& name, unsigned records, unsigned flags = 0x8180)
{
    return DnsMessage::Answer(name, records, flags);
}
std::string A(const char* address) { return DnsMessage::A(address); }
std::string Cname(const std::string& target) { return DnsMessage::Cname(target); }

unsigned Learn(const std::string& bytes)
{
    return LearnFromDnsAnswer(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::set<std::string> NamesFor(const char* address)
{
    KnownNames known;
    NamesOf(address, known);
    std::set<std::string> names;
    for (unsigned i = 0; i < known.count; ++i)
        names.insert(known.names[i]);
    return names;
}

// A datagram the program sent, and one it received, as its buffers hold them.
void Sent(int fd, const Peer& to, const std::string& bytes)
{
    iovec part {const_cast<char*>(bytes.data()), bytes.size()};
    NoteDnsQuery(fd, to, &part, 1);
}
unsigned Received(int fd, const Peer& from, const std::string& bytes)
{
    iovec part {const_cast<char*>(bytes.data()), bytes.size()};
    return LearnFromDnsDatagram(fd, from, &part, 1, bytes.size());
}

// An answer of one A record for name to the query with id.
std::string AnswerOf(const std::string& name, const char* address, unsigned id = 0x1234, unsigned type = 1,
                     unsigned dataClass = 1)
{
    DnsMessage m = DnsMessage::Answer(name, 1, 0x8180, id, type, dataClass);
    m.Record(name, 1, A(address));
    return m.bytes;
}

// A message over TCP: its length first.
std::string Framed(const std::string& message)
{
    return std::string {static_cast<char>(message.size() >> 8), static_cast<char>(message.size() & 0xFF)} + message;
}

}  // namespace

// Over UDP an answer teaches only when it answers a query outstanding on the
// socket it came to: from the address and port the query went to, with its
// id and question. One that does not leaves the query to the true answer;
// the first that does takes it, so a duplicate after it teaches nothing.
// A page, a hosts file or a hostile resolver can make a program look up
// names close to the encrypted-DNS canary: only the canary itself is
// answered "no such name" by the hook; every other name reaches the resolver.
TEST(AttackDnsCanaryLookalikes, OnlyTheCanaryItselfIsAnswered)
{
    const std::string longName = "use-application-dns.net" + std::string(5000, '.');
    const char withNul[] = "use-application-dns.net\0evil"; // the C library reads up to the NUL
    const struct {
        const char* name;
        bool answered;
    } cases[] = {
        {"use-application-dns.net", true},   {"USE-APPLICATION-DNS.NET.", true},
        {"Use-Application-Dns.Net", true},   {withNul, true},
        {"use-application-dns.net.evil", false}, {"use-application-dns.net..", false},
        {"xuse-application-dns.net", false}, {"www.use-application-dns.net", false},
        {"use-application-dns.ne", false},   {"use-application-dns", false},
        {"use_application-dns.net", false},  {"use-application-dns.net ", false},
        {"", false},                         {nullptr, false},
        {longName.c_str(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsDnsCanary(c.name), c.answered) << (c.name ? c.name : "(null)");
}

TEST(HookDnsAnswers, OnlyTheAnswerToAQueryTheSocketSentTeachesAndOnlyOnce)
{
    const int fd = 40030;
    const int other = 40031;
    SetKind(fd, kUdpSocket);
    SetKind(other, kUdpSocket);
    const Peer server = MakePeer("10.53.0.1", 53);
    struct Reply {
        int fd;
        Peer from;
        unsigned id;
        std::string name;
        unsigned type;
        unsigned dataClass;
    };
    struct Case {
        const char* what;
        std::function<void(Reply&)> change;
        bool teaches;      // the reply
        bool trueTeaches;  // the true answer after it
    };
    const Case cases[] = {
        {"the true answer", [](Reply&) {}, true, false},
        {"its name in other case", [](Reply& r) { r.name[0] = 'Q'; }, false, true},
        {"another id", [](Reply& r) { r.id ^= 0x0100; }, false, true},
        {"another name", [](Reply& r) { r.name = "www.evil.example"; }, false, true},
        {"another type", [](Reply& r) { r.type = 28; }, false, true},
        {"another class", [](Reply& r) { r.dataClass = 3; }, false, true},
        {"on another socket", [&](Reply& r) { r.fd = other; }, false, true},
        {"from another address", [](Reply& r) { r.from = MakePeer("10.53.0.2", 53); }, false, true},
        {"from another port", [](Reply& r) { r.from = MakePeer("10.53.0.1", 5353); }, false, true},
        {"the socket closed and its number given to another",
         [&](Reply&) {
             Forget(fd);
             SetKind(fd, kUdpSocket);
         },
         false, false},
    };
    unsigned i = 0;
    for (const Case& c : cases) {
        ++i;
        const std::string name = "q" + std::to_string(i) + ".good.example";
        const std::string forged = "10.9.1." + std::to_string(i), genuine = "10.9.2." + std::to_string(i),
                          late = "10.9.3." + std::to_string(i);
        Sent(fd, server, DnsMessage::Query(name, 0x4000 + i).bytes);
        Reply reply {fd, server, 0x4000 + i, name, 1, 1};
        c.change(reply);
        EXPECT_EQ(Received(reply.fd, reply.from, AnswerOf(reply.name, forged.c_str(), reply.id, reply.type,
                                                          reply.dataClass)),
                  c.teaches ? 1u : 0u)
            << c.what;
        EXPECT_EQ(NamesFor(forged.c_str()).size(), c.teaches ? 1u : 0u) << c.what;
        EXPECT_EQ(Received(fd, server, AnswerOf(name, genuine.c_str(), 0x4000 + i)), c.trueTeaches ? 1u : 0u) << c.what;
        EXPECT_EQ(Received(fd, server, AnswerOf(name, late.c_str(), 0x4000 + i)), 0u) << c.what << ": a late duplicate";
        EXPECT_TRUE(NamesFor(late.c_str()).empty()) << c.what;
    }
}

// Several queries outstanding on one socket (a resolver's A and AAAA, threads
// sharing a socket) are answered each once, in any order; the same query
// sent again is still one; a child made by fork asked none of its parent's.
TEST(HookDnsAnswers, QueriesOutstandingTogetherAreAnsweredEachOnce)
{
    const int fd = 40032;
    SetKind(fd, kUdpSocket);
    const Peer server = MakePeer("10.53.0.3", 53);
    Sent(fd, server, DnsMessage::Query("both.good.example", 0x5000, 1).bytes);
    Sent(fd, server, DnsMessage::Query("both.good.example", 0x5000, 28).bytes);
    Sent(fd, server, DnsMessage::Query("again.good.example", 0x5001).bytes);
    Sent(fd, server, DnsMessage::Query("again.good.example", 0x5001).bytes); // a retry
    in6_addr v6 {};
    ::inet_pton(AF_INET6, "fd00::53", &v6);
    DnsMessage aaaa = DnsMessage::Answer("both.good.example", 1, 0x8180, 0x5000, 28);
    aaaa.Record("both.good.example", 28, std::string(reinterpret_cast<const char*>(&v6), 16));
    EXPECT_EQ(Received(fd, server, aaaa.bytes), 1u);
    EXPECT_EQ(Received(fd, server, AnswerOf("both.good.example", "10.9.4.1", 0x5000)), 1u);
    EXPECT_EQ(Received(fd, server, AnswerOf("again.good.example", "10.9.4.2", 0x5001)), 1u);
    EXPECT_EQ(Received(fd, server, AnswerOf("again.good.example", "10.9.4.3", 0x5001)), 0u);

    // Two threads receiving the same answer at once: one of them learns.
    for (unsigned round = 0; round < 50; ++round) {
        Sent(fd, server, DnsMessage::Query("race.good.example", 0x6000 + round).bytes);
        const std::string answer = AnswerOf("race.good.example", "10.9.4.4", 0x6000 + round);
        std::atomic<unsigned> learnt {0};
        std::thread racers[2];
        for (std::thread& racer : racers)
            racer = std::thread([&] { learnt += Received(fd, server, answer); });
        for (std::thread& racer : racers)
            racer.join();
        ASSERT_EQ(learnt.load(), 1u) << round;
    }

    Sent(fd, server, DnsMessage::Query("forked.good.example", 0x5002).bytes);
    LockDnsForFork();
    const pid_t child = ::fork();
    if (child == 0) {
        UnlockDnsAfterFork(true);
        ::_exit(Received(fd, server, AnswerOf("forked.good.example", "10.9.4.5", 0x5002)) == 0 ? 0 : 1);
    }
    UnlockDnsAfterFork(false);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "the child learnt from an answer to its parent's query";
    EXPECT_EQ(Received(fd, server, AnswerOf("forked.good.example", "10.9.4.5", 0x5002)), 1u);

    // Many outstanding: the one asked longest ago gave way, the newest is there.
    for (unsigned n = 0; n < 300; ++n)
        Sent(fd, server, DnsMessage::Query("many.good.example", 0x7000 + n).bytes);
    EXPECT_EQ(Received(fd, server, AnswerOf("many.good.example", "10.9.4.6", 0x7000)), 0u);
    EXPECT_EQ(Received(fd, server, AnswerOf("many.good.example", "10.9.4.7", 0x7000 + 299)), 1u);
}

TEST(HookDnsAnswers, AddressesAreKnownByTheNameAskedForAndItsChain)
{
    DnsMessage chain = Answer("WWW.Example.org", 3);
    chain.Record("www.example.org", 5, Cname("edge.cdn.example.net"));
    chain.Record("edge.cdn.example.net", 5, Cname("e1.cdn.example.net"));
    chain.Record("e1.cdn.example.net", 1, A("10.6.0.1"));
    EXPECT_EQ(Learn(chain.bytes), 1u);
    EXPECT_EQ(NamesFor("10.6.0.1"),
              (std::set<std::string> {"www.example.org", "edge.cdn.example.net", "e1.cdn.example.net"}));
    char first[kNameSize];
    ASSERT_TRUE(NameOf("10.6.0.1", first, sizeof first));
    EXPECT_STREQ(first, "www.example.org"); // the name asked for is the one an address is shown by

    // Compressed owners (a pointer to the question's name), two addresses,
    // an IPv6 one, and a record about another name passed over.
    DnsMessage compressed = Answer("api.example.org", 4);
    for (const char* address : {"10.6.0.2", "10.6.0.3"}) {
        compressed.U16(0xC00C);
        compressed.U16(1);
        compressed.U16(1);
        compressed.U16(0);
        compressed.U16(60);
        compressed.U16(4);
        compressed.bytes += A(address);
    }
    in6_addr v6 {};
    ::inet_pton(AF_INET6, "fd00::6", &v6);
    compressed.Record("api.example.org", 28, std::string(reinterpret_cast<const char*>(&v6), 16));
    compressed.Record("elsewhere.example", 1, A("10.6.0.4"));
    EXPECT_EQ(Learn(compressed.bytes), 3u);
    EXPECT_EQ(NamesFor("10.6.0.2"), std::set<std::string> {"api.example.org"});
    EXPECT_EQ(NamesFor("10.6.0.3"), std::set<std::string> {"api.example.org"});
    EXPECT_EQ(NamesFor("fd00::6"), std::set<std::string> {"api.example.org"});
    EXPECT_TRUE(NamesFor("10.6.0.4").empty());
}

TEST(HookDnsAnswers, WhatIsNoAnswerOrIsMalformedTeachesNothing)
{
    const auto withAddress = [](DnsMessage m, const char* address) {
        m.Record("bad.example.org", 1, A(address));
        return m.bytes;
    };
    struct Case {
        const char* what;
        std::string bytes;
        const char* address;
    };
    DnsMessage loop = Answer("loop.example.org", 1);
    loop.U16(0xC000 | static_cast<unsigned>(loop.bytes.size())); // a pointer to itself
    loop.U16(1);
    loop.U16(1);
    loop.U16(0);
    loop.U16(60);
    loop.U16(4);
    loop.bytes += A("10.7.0.5");
    const std::string whole = withAddress(Answer("bad.example.org", 1), "10.7.0.6");
    const Case cases[] = {
        {"a query, not an answer", withAddress(Answer("bad.example.org", 1, 0x0100), "10.7.0.1"), "10.7.0.1"},
        {"no such name", withAddress(Answer("bad.example.org", 1, 0x8183), "10.7.0.2"), "10.7.0.2"},
        {"an odd character in the name", withAddress(Answer("bad<x>.example.org", 1), "10.7.0.3"), "10.7.0.3"},
        {"cut inside the address", whole.substr(0, whole.size() - 2), "10.7.0.6"},
        {"a pointer loop", loop.bytes, "10.7.0.5"},
        {"too short for a header", std::string("\x12\x34\x81\x80", 4), "10.7.0.7"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Learn(c.bytes), 0u) << c.what;
        EXPECT_TRUE(NamesFor(c.address).empty()) << c.what;
    }
}

// DNS over TCP: a message goes with its length before it, and writes and
// reads end anywhere: the queries written and the answers read are followed
// across them, message after message. Only an answer to a query written on
// the connection teaches, once.
TEST(HookDnsAnswers, TcpAnswersAreFollowedAcrossReadsOfAnySize)
{
    std::string queries, answers;
    for (int i = 0; i < 3; ++i) {
        const std::string name = "n" + std::to_string(i) + ".example.org";
        queries += Framed(DnsMessage::Query(name, 0x100 + i).bytes);
        answers += Framed(AnswerOf(name, ("10.8.0." + std::to_string(i)).c_str(), 0x100 + i));
    }
    queries += Framed(DnsMessage::Query("n1.example.org", 0x101).bytes); // written twice: answered once
    // Nobody asked; another id; a duplicate; asked on another connection.
    answers += Framed(AnswerOf("n3.example.org", "10.8.1.1", 0x103));
    answers += Framed(AnswerOf("n0.example.org", "10.8.1.2", 0x1FF));
    answers += Framed(AnswerOf("n1.example.org", "10.8.1.3", 0x101));
    answers += Framed(AnswerOf("other.example.org", "10.8.1.4", 0x104));
    const int fd = 40010, other = 40011;
    StartDnsStream(fd);
    StartDnsStream(other);
    const std::string elsewhere = Framed(DnsMessage::Query("other.example.org", 0x104).bytes);
    iovec asked {const_cast<char*>(elsewhere.data()), elsewhere.size()};
    FeedDnsQueries(other, &asked, 1, elsewhere.size());
    const auto feed = [](int on, std::string& stream, auto into) {
        for (size_t at = 0, piece = 1; at < stream.size(); at += piece, piece = piece % 7 + 1) {
            const size_t take = std::min(piece, stream.size() - at);
            iovec parts[2] = {{stream.data() + at, take / 2}, {stream.data() + at + take / 2, take - take / 2}};
            into(on, parts, 2, take);
            if (at < stream.size() / 2 && at + take >= stream.size() / 2)
                StartDnsStream(on); // a second connect() finishing the first: nothing starts over
        }
    };
    feed(fd, queries, FeedDnsQueries);
    feed(fd, answers, FeedDnsStream);
    // More queries than a connection keeps: the oldest give way.
    std::string many, late;
    for (int i = 0; i < 9; ++i)
        many += Framed(DnsMessage::Query("e" + std::to_string(i) + ".example.org", 0x200 + i).bytes);
    for (int i : {0, 8})
        late += Framed(AnswerOf("e" + std::to_string(i) + ".example.org", ("10.8.2." + std::to_string(i)).c_str(),
                                0x200 + i));
    feed(other, many, FeedDnsQueries);
    feed(other, late, FeedDnsStream);
    EXPECT_TRUE(NamesFor("10.8.2.0").empty());
    EXPECT_EQ(NamesFor("10.8.2.8"), std::set<std::string> {"e8.example.org"});
    EndDnsStream(fd);
    EndDnsStream(other);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(NamesFor(("10.8.0." + std::to_string(i)).c_str()),
                  std::set<std::string> {"n" + std::to_string(i) + ".example.org"});
    for (const char* forged : {"10.8.1.1", "10.8.1.2", "10.8.1.3", "10.8.1.4"})
        EXPECT_TRUE(NamesFor(forged).empty()) << forged;
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

// A call reads what is known of its number once (View) and its decision
// writes back through that view: only while the number is still the same
// socket. One closed (or replaced by dup2) and given to another socket on
// another thread while the decision waited for the engine or the user keeps
// no verdict of the old one: the next socket's connect to that peer is
// decided, not let through.
TEST(AttackVerdictOnReusedNumber, WhatADecisionWritesBackHoldsOnlyForTheSocketItLookedAt)
{
    const int fd = 40005;
    Forget(fd);
    SetKind(fd, kTcpSocket);
    SetBoundPort(fd, 4000, true);
    SocketView view = View(fd);
    EXPECT_EQ(view.kind, kTcpSocket);
    EXPECT_EQ(LocalPortOf(view), 4000u);
    EXPECT_EQ(view.decidedPeer, 0u);
    EXPECT_TRUE(SetDecidedPeer(view, 42));
    EXPECT_EQ(View(fd).decidedPeer, 42u);
    struct Case {
        const char* what;
        void (*meanwhile)(int fd);
    };
    const Case cases[] = {
        {"closed, the number made again", [](int n) { Forget(n); SetKind(n, kTcpSocket); }},
        {"replaced by a copy of another socket", [](int n) { Forget(n); CopyKnowledge(40006, n); }},
        {"closed", [](int n) { Forget(n); }},
    };
    SetKind(40006, kTcpSocket);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Forget(fd);
        SetKind(fd, kTcpSocket);
        SocketView stale = View(fd);
        c.meanwhile(fd);
        EXPECT_FALSE(SetDecidedPeer(stale, 43));
        SetDnsStream(stale);
        const SocketView now = View(fd);
        EXPECT_EQ(now.decidedPeer, 0u);
        EXPECT_FALSE(now.dnsStream);
    }
    // A datagram peer's verdict likewise.
    const Peer peer = MakePeer("10.0.0.7", 53);
    uint32_t generation = 0;
    SetKind(fd, kUdpSocket);
    ASSERT_TRUE(GenerationOf(fd, generation));
    RememberVerdict(fd, kOut, peer, true, 1, &generation);
    EXPECT_EQ(RecallVerdict(fd, kOut, peer, 1), Recalled::kPermitted);
    ASSERT_TRUE(GenerationOf(fd, generation));
    Forget(fd);
    ForgetDatagrams(fd);
    SetKind(fd, kUdpSocket);
    RememberVerdict(fd, kOut, peer, true, 1, &generation);
    EXPECT_EQ(RecallVerdict(fd, kOut, peer, 1), Recalled::kNothing);
}

// What a descriptor is comes from how it was made, and goes with its copies.
TEST(HookSocketTable, KindsFromHowSocketsAreMadeAndCopiesKnowTheSame)
{
    struct Case {
        int domain, type, protocol;
        Kind kind;
    };
    const Case cases[] = {
        {AF_INET, SOCK_STREAM, 0, kTcpSocket},           {AF_INET6, SOCK_STREAM | SOCK_NONBLOCK, IPPROTO_TCP, kTcpSocket},
        {AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0, kUdpSocket}, {AF_INET6, SOCK_DGRAM, IPPROTO_UDP, kUdpSocket},
        {AF_INET, SOCK_DGRAM, IPPROTO_ICMP, kOther},     {AF_INET, SOCK_RAW, IPPROTO_ICMP, kOther},
        {AF_UNIX, SOCK_STREAM, 0, kOther},               {AF_NETLINK, SOCK_DGRAM, 0, kOther},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KindFrom(c.domain, c.type, c.protocol), c.kind) << c.domain << " " << c.type << " " << c.protocol;
    SetKind(40020, kUdpSocket);
    SetBoundPort(40020, 53, true);
    SetDnsStream(40020);
    CopyKnowledge(40020, 40021);
    EXPECT_EQ(KnownKind(40021), kUdpSocket);
    EXPECT_EQ(LocalPortOf(40021), 53u);
    EXPECT_TRUE(IsDnsStream(40021));
    Forget(40021);
    EXPECT_FALSE(IsDnsStream(40021));
    EXPECT_EQ(KnownKind(40021), kUnknown);
}

// Descriptors past the first 65536 numbers, in a program whose limit of
// open files is higher: what the hook knows of them is kept as of any other
// (the kind that makes a connected datagram socket's sends decided, its
// peer and verdicts, the marks of a number that stands in), and a close of
// a range finds them. The tables take numbers, not open descriptors: the
// limit where the tests run stays below these.
TEST(AttackHighDescriptor, WhatIsKnownOfANumberPastTheFirst65536IsKept)
{
    const Peer peer = MakePeer("10.0.0.9", 53);
    for (const int fd : {65536, 70000, 1 << 20, 0x7fffffff}) {
        SCOPED_TRACE(fd);
        SetKind(fd, kUdpSocket);
        SetBoundPort(fd, 5353, true);
        SetDecidedPeer(fd, 42);
        EXPECT_EQ(KnownKind(fd), kUdpSocket);
        EXPECT_EQ(LocalPortOf(fd), 5353u);
        EXPECT_EQ(DecidedPeer(fd), 42u);
        SetConnectedPeer(fd, peer);
        Peer connected;
        EXPECT_TRUE(ConnectedPeer(fd, connected));
        RememberVerdict(fd, kOut, peer, false, 3);
        EXPECT_EQ(RecallVerdict(fd, kOut, peer, 3), Recalled::kDenied);
        CopyKnowledge(fd, fd - 1);
        EXPECT_EQ(KnownKind(fd - 1), kUdpSocket);
        EXPECT_TRUE(SetMark(fd, kMarkKept));
        unsigned found = 0;
        EXPECT_TRUE(FirstMarkedIn(65536, ~0u, kMarkKept, found));
        EXPECT_EQ(found, static_cast<unsigned>(fd));
        EXPECT_TRUE(ClearMark(fd, kMarkKept));
        ForgetDatagrams(fd);
        Forget(fd);
        Forget(fd - 1);
        EXPECT_EQ(KnownKind(fd), kUnknown);
        EXPECT_FALSE(ConnectedPeer(fd, connected));
    }
    EXPECT_FALSE(AnyMarks());
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
        EXPECT_TRUE(::dlsym(RTLD_DEFAULT, name.c_str()) != nullptr || name == "zel_hook_link" || name == "zel_hook_start"
                    || name == "zel_hook_parent")
            << name;
    }
}
