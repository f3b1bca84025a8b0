// sandboxed_peer ADDR PORT: a program that forbids itself every system call
// it does not make itself (seccomp, as browsers sandbox their processes),
// then uses sockets the hook did not see made: a TCP connection and a local
// socket it inherited, and a TCP connection, a local socket and a pipe it
// received from a helper process. Prints "done" when all of it worked; the
// kernel kills it (SIGSYS) at the first call of anyone else's.
//   The server at ADDR PORT is a netpeer tcp-server: it answers "ok".
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <poll.h>
#include <csignal>
#include <stddef.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int Connected(const char* address, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from {};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.3", &from.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("connect");
        std::exit(3);
    }
    return fd;
}

// Only the calls this program makes from here on, and the kernel's return
// from a signal handler; everything else, getsockopt and fstat first of
// all, kills the process.
void ForbidEverythingElse()
{
    static const int allowed[] = {SYS_read, SYS_write, SYS_recvfrom, SYS_sendto, SYS_recvmsg, SYS_sendmsg, SYS_close,
                                  SYS_dup, SYS_poll, SYS_exit_group, SYS_exit, SYS_rt_sigreturn};
    constexpr size_t kAllowed = sizeof allowed / sizeof allowed[0];
    sock_filter program[4 + 2 * kAllowed + 2];
    size_t n = 0;
    program[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    program[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0);
    program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    program[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    for (const int call : allowed) {
        program[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(call), 0, 1);
        program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    }
    program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    sock_fprog filter {static_cast<unsigned short>(n), program};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
        std::perror("seccomp");
        std::exit(4);
    }
}

void Say(const char* text) { [[maybe_unused]] const ssize_t n = ::write(1, text, std::strlen(text)); }

void Fail(const char* what)
{
    Say("failed: ");
    Say(what);
    Say("\n");
    ::_exit(1);
}

// Asks the server and reads its answer, with recv or read (it answers once
// per connection).
void Exchange(int fd, bool withRecv, const char* what)
{
    if (::send(fd, "hello\n", 6, MSG_NOSIGNAL) != 6)
        Fail(what);
    pollfd waiting {fd, POLLIN, 0};
    if (::poll(&waiting, 1, 5000) != 1)
        Fail(what);
    char answer[16] = {};
    const ssize_t n = withRecv ? ::recv(fd, answer, sizeof answer - 1, 0) : ::read(fd, answer, sizeof answer - 1);
    if (n < 2 || std::strncmp(answer, "ok", 2) != 0)
        Fail(what);
}

}  // namespace

int main(int argc, char** argv)
{
    ::alarm(30);
    if (argc == 3) {
        // Made here, inherited by the program it becomes.
        const int tcp = Connected(argv[1], std::atoi(argv[2]));
        int local[2];
        ::socketpair(AF_UNIX, SOCK_STREAM, 0, local);
        const std::string tcpText = std::to_string(tcp), localText = std::to_string(local[0]),
                          peerText = std::to_string(local[1]);
        ::execl("/proc/self/exe", argv[0], argv[1], argv[2], tcpText.c_str(), localText.c_str(), peerText.c_str(),
                static_cast<char*>(nullptr));
        std::perror("exec");
        return 2;
    }
    if (argc != 6)
        return 2;
    const int inheritedTcp = std::atoi(argv[3]);
    const int inheritedLocal = std::atoi(argv[4]);
    const int helperEnd = std::atoi(argv[5]);
    const pid_t helper = ::fork();
    if (helper == 0) {
        // Sends a new TCP connection, a local socket and a pipe; ends with
        // the program, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        int local[2], pipeEnds[2];
        ::socketpair(AF_UNIX, SOCK_DGRAM, 0, local);
        if (::pipe(pipeEnds) != 0)
            ::_exit(1);
        const int tcp = Connected(argv[1], std::atoi(argv[2]));
        [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], "piped", 5);
        ::send(local[1], "local", 5, 0);
        const int sent[] = {tcp, local[0], pipeEnds[0]};
        char control[CMSG_SPACE(sizeof sent)] = {};
        char byte = 'x';
        iovec part {&byte, 1};
        msghdr message {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof sent);
        std::memcpy(CMSG_DATA(header), sent, sizeof sent);
        char ready;
        if (::read(helperEnd, &ready, 1) != 1 || ::sendmsg(helperEnd, &message, 0) != 1)
            ::_exit(1);
        ::_exit(0);
    }

    ForbidEverythingElse();
    Exchange(inheritedTcp, true, "the inherited TCP connection");
    if (::write(inheritedLocal, "g", 1) != 1)
        Fail("the inherited local socket");
    char byte = 0;
    int received[3] = {-1, -1, -1};
    char control[CMSG_SPACE(sizeof received)] = {};
    iovec part {&byte, 1};
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(inheritedLocal, &message, 0) != 1 || !CMSG_FIRSTHDR(&message))
        Fail("receiving descriptors");
    std::memcpy(received, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof received);
    const int copy = ::dup(received[0]);
    Exchange(copy, false, "a copy of the received TCP connection");
    char text[16] = {};
    sockaddr_storage from {};
    socklen_t fromLength = sizeof from;
    if (::recvfrom(received[1], text, sizeof text, 0, reinterpret_cast<sockaddr*>(&from), &fromLength) != 5
        || std::strncmp(text, "local", 5) != 0)
        Fail("the received local socket");
    if (::read(received[2], text, sizeof text) != 5 || std::strncmp(text, "piped", 5) != 0)
        Fail("the received pipe");
    for (const int fd : {received[0], received[1], received[2], copy, inheritedTcp, inheritedLocal})
        if (::close(fd) != 0)
            Fail("closing");
    Say("done\n");
    ::_exit(0);
}
