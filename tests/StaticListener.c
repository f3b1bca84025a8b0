/* static_listener: a statically linked program with a socket, as the
 * Protection view's tests need one. Listens on 127.0.0.1 (a port the kernel
 * picks), says "listening", and ends after 30 seconds. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

int main(void)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {0};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, (struct sockaddr*)&address, sizeof address) != 0 || listen(fd, 1) != 0) {
        perror("static_listener");
        return 1;
    }
    printf("listening\n");
    fflush(stdout);
    sleep(30);
    return 0;
}
