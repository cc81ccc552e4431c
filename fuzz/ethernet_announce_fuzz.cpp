// One datagram on the device configuration stream through the configuration
// server's check. Checked for every input: it is reported exactly when it is
// a 12-byte announce (type 0x11), whatever its serial number, and the report
// carries the datagram's own fields and sender. The datagram is a heap copy
// of exactly its size.
#include <QHostAddress>
#include <QNetworkInterface>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/byte_order.h"
#include "host/devices/configuration_server.h"
#include "support/fuzz_check.h"

namespace {

struct Harness {
    Harness() : server("239.255.76.67", 7670, QNetworkInterface()) {
        QObject::connect(&server, &ConfigurationServer::SignalEthernetAnnounceReceived,
                         [this](ethernet_announce_t announce, QString address, quint16 port) {
                             ++reports;
                             last = announce;
                             last_address = address;
                             last_port = port;
                         });
    }
    ConfigurationServer server;
    int reports = 0;
    ethernet_announce_t last{};
    QString last_address;
    quint16 last_port = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness harness;
    static const QHostAddress sender("192.0.2.7");
    std::unique_ptr<uint8_t[]> datagram(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(datagram.get(), data, size);
    }
    harness.reports = 0;
    using Result = ConfigurationServer::AnnounceResult;
    const Result result = harness.server.ProcessDatagram(datagram.get(), size, sender, 4242);

    const bool valid = size == 12 && data[0] == 0x11;
    Check((result == Result::kBadLength) == (size != 12));
    Check((result == Result::kReported) == valid);
    Check(harness.reports == (valid ? 1 : 0));
    if (valid) {
        Check(harness.last.serial_number == wire::read_be32(data + 1));
        Check(harness.last.host_ipv4_address == wire::read_be32(data + 5));
        Check(harness.last.host_port == wire::read_be16(data + 9));
        Check(harness.last.vlan_id == data[11]);
        Check(harness.last_address == "192.0.2.7" && harness.last_port == 4242);
    }
    return 0;
}
