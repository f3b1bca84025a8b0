// What learning names from a DNS answer costs the program that received it:
// one typical answer (a name through a CNAME chain of two to two addresses)
// parsed and its names remembered, against receiving that answer over
// loopback in the same run.
//   dns_answer_bench [benchmark options]; bench/ratios.py FILE BM_LoopbackDatagram
#include "DnsAnswers.h"
#include "Names.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void U16(std::string& out, unsigned value)
{
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xFF);
}

void Name(std::string& out, const std::string& name)
{
    size_t start = 0;
    while (start < name.size()) {
        const size_t dot = name.find('.', start);
        const size_t end = dot == std::string::npos ? name.size() : dot;
        out += static_cast<char>(end - start);
        out += name.substr(start, end - start);
        start = end + 1;
    }
    out += '\0';
}

void Record(std::string& out, const std::string& owner, unsigned type, const std::string& data)
{
    Name(out, owner);
    U16(out, type);
    U16(out, 1);
    U16(out, 0);
    U16(out, 300);
    U16(out, static_cast<unsigned>(data.size()));
    out += data;
}

std::string TypicalAnswer()
{
    std::string m;
    for (const unsigned value : {0x1234u, 0x8180u, 1u, 4u, 0u, 0u})
        U16(m, value);
    Name(m, "www.example.org");
    U16(m, 1);
    U16(m, 1);
    std::string target;
    Name(target, "www.example.org.cdn.example.net");
    Record(m, "www.example.org", 5, target);
    target.clear();
    Name(target, "edge-7.cdn.example.net");
    Record(m, "www.example.org.cdn.example.net", 5, target);
    for (const char* address : {"10.9.0.1", "10.9.0.2"}) {
        in_addr in {};
        ::inet_pton(AF_INET, address, &in);
        Record(m, "edge-7.cdn.example.net", 1, std::string(reinterpret_cast<const char*>(&in), 4));
    }
    return m;
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
