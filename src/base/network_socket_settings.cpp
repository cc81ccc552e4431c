#include "base/network_socket_settings.h"

#include <sys/socket.h>

#include <cstdio>

NetworkSocketSettings::NetworkSocketSettings(const std::string& address, uint16_t port, uint16_t ttl,
                                             const std::string& network_iface)
    : address_(address), port_(port), ttl_(ttl), network_iface_(network_iface) {}

bool NetworkSocketSettings::operator==(const NetworkSocketSettings& other) const {
    // std::string compares every byte, embedded NULs included.
    return address_ == other.address_ && port_ == other.port_ && ttl_ == other.ttl_ &&
           network_iface_ == other.network_iface_;
}

void NetworkSocketSettings::Print() const {
    printf("udpm://%s:%hu?ttl=%hu on <%s>\n", address_.c_str(), port_, ttl_, network_iface_.c_str());
    fflush(stdout);
}

bool RequestSocketReceiveBuffer(int descriptor) {
    const int bytes = kSocketReceiveBufferBytes;
    return descriptor >= 0 && setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)) == 0;
}
