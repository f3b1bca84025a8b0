/* Connects the way programs the hook cannot enter do, and says what the
 * kernel answered: "passed" (connected, refused by the peer, or a datagram
 * sent), "denied" (EPERM), or "error N". Built dynamically and statically.
 *   probe libc|raw|udp|uring ADDRESS PORT
 *   probe libc IPV6-ADDRESS PORT
 * Or connects every millisecond until the kernel answers as WANTED, saying
 * "ready" at its first answer and then when (wall clock, nanoseconds) it
 * saw the wanted one, or "timeout" after MS milliseconds:
 *   probe until-passed|until-denied ADDRESS PORT MS
 * Or serves for MS milliseconds, saying "ready", then for each connection
 * "accepted ADDRESS read N" (the bytes it could read) or for each datagram
 * "datagram ADDRESS N":
 *   probe serve-tcp|serve-udp ADDRESS PORT MS
 * (serve-tcp with PORT 0 listens without binding, and says "ready PORT").
 * Or knocks as a peer from FROM, waiting at most MS milliseconds: "connected
 * N" (bytes it could send), "refused", "timeout", or for a datagram "sent"
 * and then "answered" or "timeout" (a server answers nothing; the peer
 * counts on its own reads):
 *   probe knock-tcp|knock-udp ADDRESS PORT FROM MS */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <liburing.h>
#include <poll.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static int report(int error)
{
    if (error == 0 || error == ECONNREFUSED)
        puts("passed");
    else if (error == EPERM)
        puts("denied");
    else
        printf("error %d\n", error);
    return 0;
}

static const char* verdict(int error)
{
    return error == 0 || error == ECONNREFUSED ? "passed" : error == EPERM ? "denied" : "error";
}

static long long now_ns(clockid_t clock)
{
    struct timespec at;
    clock_gettime(clock, &at);
    return at.tv_sec * 1000000000LL + at.tv_nsec;
}

static int until(const char* wanted, const struct sockaddr_in* to, long milliseconds)
{
    const long long end = now_ns(CLOCK_MONOTONIC) + milliseconds * 1000000LL;
    for (int tries = 0; now_ns(CLOCK_MONOTONIC) < end; ++tries) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return 1;
        const int error = connect(fd, (const struct sockaddr*)to, sizeof *to) == 0 ? 0 : errno;
        close(fd);
        if (strcmp(verdict(error), wanted) == 0) {
            printf("%s %lld\n", wanted, now_ns(CLOCK_REALTIME));
            return 0;
        }
        if (tries == 0) {
            puts("ready");
            fflush(stdout);
        }
        usleep(1000);
    }
    puts("timeout");
    return 0;
}

static int uring_connect(int fd, const struct sockaddr_in* to)
{
    struct io_uring ring;
    if (io_uring_queue_init(4, &ring, 0) < 0)
        return ENOSYS;
    struct io_uring_sqe* sqe = io_uring_get_sqe(&ring);
    io_uring_prep_connect(sqe, fd, (const struct sockaddr*)to, sizeof *to);
    io_uring_submit(&ring);
    struct io_uring_cqe* cqe;
    int result = io_uring_wait_cqe(&ring, &cqe);
    if (result == 0) {
        result = cqe->res;
        io_uring_cqe_seen(&ring, cqe);
    }
    io_uring_queue_exit(&ring);
    return result < 0 ? -result : 0;
}

static int serve(int udp, const struct sockaddr_in* at, long milliseconds)
{
    const int fd = socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    // Port 0 for a stream: listening without a bind, on the port the kernel picks.
    const int unbound = !udp && at->sin_port == 0;
    if (fd < 0 || (!unbound && bind(fd, (const struct sockaddr*)at, sizeof *at) != 0) || (!udp && listen(fd, 8) != 0)) {
        printf("error %d\n", errno);
        return 1;
    }
    struct sockaddr_in bound;
    socklen_t size = sizeof bound;
    if (unbound && getsockname(fd, (struct sockaddr*)&bound, &size) == 0)
        printf("ready %u\n", ntohs(bound.sin_port));
    else
        puts("ready");
    fflush(stdout);
    const long long end = now_ns(CLOCK_MONOTONIC) + milliseconds * 1000000LL;
    for (;;) {
        const long long left = (end - now_ns(CLOCK_MONOTONIC)) / 1000000LL;
        struct pollfd wait = {fd, POLLIN, 0};
        if (left <= 0 || poll(&wait, 1, (int)left) <= 0)
            break;
        struct sockaddr_in from;
        socklen_t length = sizeof from;
        char buffer[256], text[INET_ADDRSTRLEN];
        if (udp) {
            const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, (struct sockaddr*)&from, &length);
            printf("datagram %s %zd\n", inet_ntop(AF_INET, &from.sin_addr, text, sizeof text), n);
        } else {
            const int connection = accept(fd, (struct sockaddr*)&from, &length);
            if (connection < 0)
                continue;
            struct pollfd data = {connection, POLLIN, 0};
            const ssize_t n = poll(&data, 1, 200) > 0 ? read(connection, buffer, sizeof buffer) : 0;
            printf("accepted %s read %zd\n", inet_ntop(AF_INET, &from.sin_addr, text, sizeof text), n);
            close(connection);
        }
        fflush(stdout);
    }
    puts("end");
    return 0;
}

static int knock(int udp, const struct sockaddr_in* to, const char* from, long milliseconds)
{
    const int fd = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK, 0);
    struct sockaddr_in source;
    memset(&source, 0, sizeof source);
    source.sin_family = AF_INET;
    if (fd < 0 || inet_pton(AF_INET, from, &source.sin_addr) != 1 || bind(fd, (struct sockaddr*)&source, sizeof source) != 0)
        return 2;
    struct pollfd wait = {fd, udp ? POLLIN : POLLOUT, 0};
    if (udp) {
        if (sendto(fd, "hello", 5, 0, (const struct sockaddr*)to, sizeof *to) != 5)
            return report(errno);
        puts("sent");
        puts(poll(&wait, 1, (int)milliseconds) > 0 ? "answered" : "timeout");
        return 0;
    }
    if (connect(fd, (const struct sockaddr*)to, sizeof *to) != 0 && errno != EINPROGRESS)
        return report(errno);
    if (poll(&wait, 1, (int)milliseconds) <= 0) {
        puts("timeout");
        return 0;
    }
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) {
        puts(error == ECONNREFUSED ? "refused" : "error");
        return 0;
    }
    printf("connected %zd\n", send(fd, "hello", 5, MSG_NOSIGNAL));
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 5 && strncmp(argv[1], "serve-", 6) == 0) {
        struct sockaddr_in at;
        memset(&at, 0, sizeof at);
        at.sin_family = AF_INET;
        at.sin_port = htons((unsigned short)atoi(argv[3]));
        if (inet_pton(AF_INET, argv[2], &at.sin_addr) != 1)
            return 2;
        return serve(strcmp(argv[1], "serve-udp") == 0, &at, atol(argv[4]));
    }
    if (argc == 6 && strncmp(argv[1], "knock-", 6) == 0) {
        struct sockaddr_in to;
        memset(&to, 0, sizeof to);
        to.sin_family = AF_INET;
        to.sin_port = htons((unsigned short)atoi(argv[3]));
        if (inet_pton(AF_INET, argv[2], &to.sin_addr) != 1)
            return 2;
        return knock(strcmp(argv[1], "knock-udp") == 0, &to, argv[4], atol(argv[5]));
    }
    const int waiting = argc > 1 && strncmp(argv[1], "until-", 6) == 0;
    if (argc != (waiting ? 5 : 4))
        return 2;
    if (strchr(argv[2], ':') && strcmp(argv[1], "libc") == 0) {
        struct sockaddr_in6 to6;
        memset(&to6, 0, sizeof to6);
        to6.sin6_family = AF_INET6;
        to6.sin6_port = htons((unsigned short)atoi(argv[3]));
        const int fd6 = socket(AF_INET6, SOCK_STREAM, 0);
        if (inet_pton(AF_INET6, argv[2], &to6.sin6_addr) != 1 || fd6 < 0)
            return 2;
        return report(connect(fd6, (struct sockaddr*)&to6, sizeof to6) == 0 ? 0 : errno);
    }
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)atoi(argv[3]));
    if (inet_pton(AF_INET, argv[2], &to.sin_addr) != 1)
        return 2;
    if (waiting)
        return until(argv[1] + 6, &to, atol(argv[4]));
    const int udp = strcmp(argv[1], "udp") == 0;
    const int fd = socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (fd < 0)
        return 1;
    if (strcmp(argv[1], "libc") == 0)
        return report(connect(fd, (struct sockaddr*)&to, sizeof to) == 0 ? 0 : errno);
    if (strcmp(argv[1], "raw") == 0)
        return report(syscall(SYS_connect, fd, &to, sizeof to) == 0 ? 0 : errno);
    if (udp)
        return report(sendto(fd, "x", 1, 0, (struct sockaddr*)&to, sizeof to) == 1 ? 0 : errno);
    if (strcmp(argv[1], "uring") == 0)
        return report(uring_connect(fd, &to));
    return 2;
}
