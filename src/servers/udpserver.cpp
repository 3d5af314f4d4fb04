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

in_addr BindAddress(const UdpServerSpec& spec) {
    in_addr a{};
    a.s_addr = htonl(INADDR_ANY);
    if (auto v = shell_getenv(spec.bindVar); v && !v->empty() && inet_pton(AF_INET, v->c_str(), &a) != 1) {
        TracePrintf(spec.traceCategory, "%s '%s' is not an IPv4 address; using all interfaces", spec.bindVar,
                    v->c_str());
        a.s_addr = htonl(INADDR_ANY);
    }
    return a;
}

}  // namespace

int UdpServerOpen(const UdpServerSpec& spec, uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ERROR_REPORT("%s socket()", spec.title);
        return -1;
    }
    if (spec.receiveQueue > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &spec.receiveQueue, sizeof spec.receiveQueue);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = BindAddress(spec);
    sa.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
    if (errno == EADDRINUSE) {
        OxelMessageBox(spec.title, "port %d in use", port);
    } else if (errno == EACCES) {
        OxelMessageBox(spec.title, "port %d needs privileges: run with CAP_NET_BIND_SERVICE, or pick a port above 1023",
                       port);
    } else {
        ERROR_REPORT("%s bind()", spec.title);
    }
    close(fd);
    return -1;
}
