#pragma once
// The frames the location engine sends the master during its bring-up, as
// the tests expect them on the wire. Header-only; the test links the
// configuration and packet libraries.
#include <cstdint>
#include <vector>

#include "base/byte_order.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "protocol/packets/set_rf_settings_packet.h"

namespace master_frames {

using Bytes = std::vector<uint8_t>;

const Bytes kRxPassthroughOff = {0x11, 0x02, 0x00};
const Bytes kRxPassthroughOn = {0x11, 0x02, 0x01};
const Bytes kTxPassthroughOff = {0x11, 0x03, 0x00};
const Bytes kTxPassthroughOn = {0x11, 0x03, 0x01};
const Bytes kStopSync = {0x11, 0x06};
// 48751 = 0xBE6F (50 ms), fast-sync flag 1, no announcement slot, byte 12 = 1.
// What stops the master: both passthroughs off, then a stop sync.
const std::vector<Bytes> kDeconfiguration = {kRxPassthroughOff, kTxPassthroughOff, kStopSync};
// The network reset the sync packets carry: set sync commands, one reset at
// network time 1950078 (2.0 s ahead of a counter of 0).
const Bytes kNetworkReset = {0x11, 0x04, 0x00, 0x06, 0x01, 0x17, 0x06, 0x00, 0x1D, 0xC1, 0x7E};
const Bytes kFastStartSync = {0x11, 0x00, 0x00, 0x00, 0xBE, 0x6F, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};

inline Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The RF settings command of the network's settings with the given time and flag.
inline Bytes RfSettingsCommand(uint32_t time, uint8_t flag) {
    cmd_set_rf_settings_t rf = FlatSettingsInterface(Settings::GlobalSettings()).GetRfSettings();
    rf.execution_time = time;
    rf.timed_flag = flag;
    Bytes bytes(20);
    CmdSetRfSettings_ToBuff(bytes.data(), &rf);
    return bytes;
}

// The device command that gives a device its network id.
inline Bytes AddressSet(uint32_t serial, uint16_t networkId) {
    Bytes bytes = {0x12, 0x08, 0, 0, 0, 0, 0, 0};
    wire::write_be32(bytes.data() + 2, serial);
    wire::write_be16(bytes.data() + 6, networkId);
    return bytes;
}

}  // namespace master_frames
