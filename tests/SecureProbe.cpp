// A program for the set-user-ID test: tells whether the hook is in it, then
// connects to 127.0.0.2 PORT from 127.0.0.3 and tells how that went.
//   secure_probe PORT
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    Dl_info info {};
    const void* connectFn = ::dlsym(RTLD_DEFAULT, "connect");
    const bool hooked = connectFn && ::dladdr(connectFn, &info) && info.dli_fname
        && std::strstr(info.dli_fname, "libzelhook") != nullptr;
    std::printf("%s\n", hooked ? "hooked" : "not hooked");
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local {}, remote {};
    local.sin_family = remote.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.3", &local.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.2", &remote.sin_addr);
    remote.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    std::printf("%s\n", connected ? "connected" : "refused");
    return 0;
}
