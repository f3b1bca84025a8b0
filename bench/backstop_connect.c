/* N loopback connects (socket, connect to a closed port, close), timed:
 * prints the nanoseconds one takes. With "register", it registers with the
 * kernel backstop first, as the hook does.
 *   backstop_connect N [register] */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "backstop/backstop.h"

int main(int argc, char** argv)
{
    const long count = argc > 1 ? atol(argv[1]) : 100000;
    if (argc > 2 && strcmp(argv[2], "register") == 0) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int one = 1;
        setsockopt(fd, ZEL_BACKSTOP_LEVEL, ZEL_BACKSTOP_REGISTER, &one, sizeof one);
        close(fd);
    }
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    inet_pton(AF_INET, "127.0.0.2", &to.sin_addr);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        connect(fd, (struct sockaddr*)&to, sizeof to);
        close(fd);
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double ns = (end.tv_sec - start.tv_sec) * 1e9 + (end.tv_nsec - start.tv_nsec);
    printf("%.0f\n", ns / count);
    return 0;
}
