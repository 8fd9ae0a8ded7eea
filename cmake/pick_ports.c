/* Prints two TCP ports on 127.0.0.1 that are free now, below the kernel's
   ephemeral range so no outgoing connection is given them later, chosen at
   random so that two build trees configured at the same time differ. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static int is_free(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    struct sockaddr_in addr = {0};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int ok = bind(fd, (struct sockaddr*)&addr, sizeof addr) == 0;
    close(fd);
    return ok;
}

int main(void) {
    srand((unsigned)time(NULL) ^ (unsigned)getpid() << 8);
    int found = 0, ports[2];
    for (int tries = 0; tries < 1000 && found < 2; ++tries) {
        int port = 20000 + rand() % 12000;
        if ((found == 0 || ports[0] != port) && is_free(port)) ports[found++] = port;
    }
    if (found < 2) return 1;
    printf("%d;%d", ports[0], ports[1]);
    return 0;
}
