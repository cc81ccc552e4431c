#pragma once

#include <unistd.h>

#include <QString>
#include <cstdint>

#include "base/network_socket_settings.h"

// A multicast group of this process's own, made from its pid, so that the same
// test run by another process at the same time (another build tree, ctest's
// parallel runs) joins another group and never sees this one's datagrams.
inline QString ProcessMulticastGroup() {
    const auto pid = static_cast<unsigned>(getpid());
    return QString("239.255.%1.%2").arg((pid >> 8) & 0xFF).arg(pid & 0xFF);
}

// A Vuv stream of that group on the loopback interface.
inline NetworkSocketSettings LoopbackStream(uint16_t port) {
    return NetworkSocketSettings(ProcessMulticastGroup().toStdString(), port, 1, "lo");
}
