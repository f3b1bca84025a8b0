#pragma once

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// One TCP connect and accept per iteration between a client and a server in
// this process; clientIp empty leaves the source to the kernel.
inline void RunConnectAccept(benchmark::State& state, const char* serverIp, const char* clientIp)
{
    const auto address = [](const char* ip) {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, ip, &a.sin_addr);
        return a;
    };
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in server = address(serverIp);
    socklen_t length = sizeof server;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 || ::listen(listener, 64) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr*>(&server), &length) != 0) {
        state.SkipWithError("cannot listen on loopback");
        return;
    }
    const sockaddr_in source = address(clientIp ? clientIp : "0.0.0.0");
    for (auto _ : state) {
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        if (clientIp)
            ::bind(client, reinterpret_cast<const sockaddr*>(&source), sizeof source);
        if (::connect(client, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
            state.SkipWithError("connect failed");
            ::close(client);
            break;
        }
        ::close(::accept(listener, nullptr, nullptr));
        ::close(client);
    }
    ::close(listener);
}
