// What learning names from a DNS answer costs the program that received it:
// one typical answer (a name through a CNAME chain of two to two addresses)
// parsed and its names remembered, and the same with its query remembered
// and matched first, against receiving that answer over loopback in the
// same run.
//   dns_answer_bench [benchmark options]; bench/ratios.py FILE BM_LoopbackDatagram
#include "hook/names/DnsReplies.h"
#include "hook/names/Names.h"
#include "hook/descriptors/SocketTable.h"
#include "tests/DnsMessage.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testing_support::DnsMessage;

std::string TypicalAnswer(unsigned id = 0x1234)
{
    DnsMessage m = DnsMessage::Answer("www.example.org", 4, 0x8180, id);
    m.Record("www.example.org", 5, DnsMessage::Cname("www.example.org.cdn.example.net"));
    m.Record("www.example.org.cdn.example.net", 5, DnsMessage::Cname("edge-7.cdn.example.net"));
    for (const char* address : {"10.9.0.1", "10.9.0.2"})
        m.Record("edge-7.cdn.example.net", 1, DnsMessage::A(address));
    return m.bytes;
}

void BM_LearnFromDnsAnswer(benchmark::State& state)
{
    const std::string answer = TypicalAnswer();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            hook::LearnFromDnsAnswer(reinterpret_cast<const unsigned char*>(answer.data()), answer.size()));
    if (hook::LearnFromDnsAnswer(reinterpret_cast<const unsigned char*>(answer.data()), answer.size()) != 2)
        state.SkipWithError("the answer taught nothing");
}
BENCHMARK(BM_LearnFromDnsAnswer);

// What a name server's answer costs now that it must answer a query: the
// query remembered when the program sends it, the answer matched to it
// (and taking it) before it is learnt from, with other queries outstanding
// on other sockets.
void BM_AnswerToOutstandingQuery(benchmark::State& state)
{
    const std::string query = DnsMessage::Query("www.example.org", 0x2345).bytes;
    const std::string answer = TypicalAnswer(0x2345);
    const int fd = 40100;
    hook::SetKind(fd, hook::kUdpSocket);
    hook::Peer server;
    std::snprintf(server.address, sizeof server.address, "10.53.0.1");
    server.port = 53;
    iovec asked {const_cast<char*>(query.data()), query.size()};
    iovec answered {const_cast<char*>(answer.data()), answer.size()};
    for (int other = 0; other < 16; ++other) {
        hook::SetKind(fd + 1 + other, hook::kUdpSocket);
        hook::NoteDnsQuery(fd + 1 + other, server, &asked, 1);
    }
    unsigned learnt = 0;
    for (auto _ : state) {
        hook::NoteDnsQuery(fd, server, &asked, 1);
        learnt = hook::LearnFromDnsDatagram(fd, server, &answered, 1, answer.size());
        benchmark::DoNotOptimize(learnt);
    }
    if (learnt != 2)
        state.SkipWithError("the answer taught nothing");
}
BENCHMARK(BM_AnswerToOutstandingQuery);

// The baseline: the same answer sent and received over loopback.
void BM_LoopbackDatagram(benchmark::State& state)
{
    const std::string answer = TypicalAnswer();
    const int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t length = sizeof address;
    if (::bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        state.SkipWithError("cannot bind on loopback");
        return;
    }
    char buffer[1500];
    for (auto _ : state) {
        ::sendto(sender, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        benchmark::DoNotOptimize(::recv(receiver, buffer, sizeof buffer, 0));
    }
    ::close(sender);
    ::close(receiver);
}
BENCHMARK(BM_LoopbackDatagram);

}  // namespace

BENCHMARK_MAIN();
