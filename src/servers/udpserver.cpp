#include "servers/udpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config/shellvar.h"
#include "log/srvrtrace.h"
#include "platform/report.h"

#define OXEL_MODULE "udpserver"

namespace {

in_addr BindAddress(const UdpServerSpec& server) {
    in_addr a{};
    a.s_addr = htonl(INADDR_ANY);
    if (auto v = shell_getenv(server.bindVar); v && !v->empty() && inet_pton(AF_INET, v->c_str(), &a) != 1) {
        TracePrintf(server.traceCategory, "%s '%s' is not an IPv4 address; using all interfaces", server.bindVar,
                    v->c_str());
        a.s_addr = htonl(INADDR_ANY);
    }
    return a;
}

}  // namespace

int UdpServerOpen(const UdpServerSpec& server, uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ERROR_REPORT("%s socket()", server.title);
        return -1;
    }
    if (server.receiveQueue > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &server.receiveQueue, sizeof server.receiveQueue);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = BindAddress(server);
    sa.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
    if (errno == EADDRINUSE) {
        OxelMessageBox(server.title, "port %d in use", port);
    } else if (errno == EACCES) {
        OxelMessageBox(server.title, "port %d needs privileges: run with CAP_NET_BIND_SERVICE, or pick a port above 1023",
                       port);
    } else {
        ERROR_REPORT("%s bind()", server.title);
    }
    close(fd);
    return -1;
}
