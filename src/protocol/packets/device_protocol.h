#pragma once
// Constants of the device wire format: SSP payload types and sub-ids, device
// command types, RF packet types, report item types, sensor kinds, Ethernet
// datagram types and the encoded size of every fixed-layout record. All
// multi-byte fields on the wire are big-endian unless a record says otherwise.

#include <cstdint>

namespace device_protocol {

// First byte of an SSP frame's payload.
constexpr uint8_t kSspTypeBridge = 0x10;
constexpr uint8_t kSspTypeCommand = 0x11;
constexpr uint8_t kSspTypeResponse = 0x12;
constexpr uint8_t kSspTypeRxPassthrough = 0x13;
constexpr uint8_t kSspTypeTxPassthrough = 0x14;

// Second byte of the bridge serial-number query 0x10 0x09.
constexpr uint8_t kBridgeSerialNumberQuery = 0x09;

// SSP command sub-ids (second byte after kSspTypeCommand / kSspTypeResponse).
constexpr uint8_t kSspCmdStartSync = 0;
constexpr uint8_t kSspCmdSetRxPassthrough = 2;
constexpr uint8_t kSspCmdSetTxPassthrough = 3;
constexpr uint8_t kSspCmdSetSyncCmds = 4;
constexpr uint8_t kSspCmdExecSyncCmds = 5;
constexpr uint8_t kSspCmdStopSync = 6;

// Device command types (first byte; the second byte is the total length).
constexpr uint8_t kCmdLedControl = 0x10;
constexpr uint8_t kCmdSetDeviceAddr = 0x12;
constexpr uint8_t kCmdSelectDeviceAddr = 0x13;
constexpr uint8_t kCmdTransmit = 0x14;
constexpr uint8_t kCmdReceive = 0x15;
constexpr uint8_t kCmdSetRfSettings = 0x16;
constexpr uint8_t kCmdResetDevice = 0x17;
constexpr uint8_t kCmdSetCollectorPackets = 0x19;
constexpr uint8_t kCmdSetAnchorReportSize = 0x1A;
constexpr uint8_t kCmdSetMpuConfig = 0x1B;
constexpr uint8_t kCmdSetUserdataSize = 0x1C;

// Length byte of each device command. CmdSelectDeviceAddr announces 4 bytes
// although its codec writes only 2: the command class appends a u16.
constexpr uint8_t kCmdLedControlLen = 11;
constexpr uint8_t kCmdSetDeviceAddrLen = 8;
constexpr uint8_t kCmdSelectDeviceAddrLen = 4;
constexpr uint8_t kCmdTransmitLen = 12;
constexpr uint8_t kCmdReceiveLen = 14;
constexpr uint8_t kCmdSetRfSettingsLen = 20;
constexpr uint8_t kCmdResetDeviceLen = 6;
constexpr uint8_t kCmdSetCollectorPacketsLen = 2;
constexpr uint8_t kCmdSetAnchorReportSizeLen = 4;
constexpr uint8_t kCmdSetMpuConfigLen = 7;
constexpr uint8_t kCmdSetUserdataSizeLen = 4;

// First byte of an RF packet inside an RX/TX passthrough payload. 18 is not
// a known RF packet type.
constexpr uint8_t kRfPacketSync = 16;
constexpr uint8_t kRfPacketAnnounceResponse = 17;
constexpr uint8_t kRfPacketAnchorReport = 19;
constexpr uint8_t kRfPacketTwrTagReport = 20;
constexpr uint8_t kRfPacketLocationTagReport = 21;
constexpr uint8_t kRfPacketTimeTransfer = 22;

// Item types of an anchor report.
constexpr uint8_t kRfReportItemCompact = 16;
constexpr uint8_t kRfReportItemFull = 17;

// Sensor kinds of the trickled tag payload (second byte of SensorDataHeader).
constexpr uint8_t kSensorAccelerometer = 1;
constexpr uint8_t kSensorGyroscope = 2;
constexpr uint8_t kSensorMagnetometer = 3;
constexpr uint8_t kSensorQuaternion = 4;
constexpr uint8_t kSensorPressure = 5;
constexpr uint8_t kSensorTemperature = 6;

// Ethernet datagram types (first byte of the UDP payload).
constexpr uint8_t kEthernetAnnounce = 0x11;
constexpr uint8_t kEthernetSspFrame = 0x12;
constexpr uint8_t kEthernetConfig = 0x13;
constexpr uint8_t kEthernetConfigVersion = 2;

// Encoded sizes in bytes. A device command encodes as many bytes as its
// length byte says, except CmdSelectDeviceAddr (see above).
constexpr int kSspCmdSize = 2;
constexpr int kSspCmdStartSyncSize = 13;
constexpr int kSspCmdGetGntSize = 6;
constexpr int kSspCmdSetRxPassthroughSize = 3;
constexpr int kSspCmdSetTxPassthroughSize = 3;
constexpr int kSspCmdSetSyncCmdsSize = 5;
constexpr int kSspCmdExecSyncCmdsSize = 5;
constexpr int kSspCmdStopSyncSize = 2;
constexpr int kBridgeSerialNumberQuerySize = 2;
constexpr int kBridgeSerialNumberAnswerSize = 5;

constexpr int kCmdLedControlSize = kCmdLedControlLen;
constexpr int kCmdSetDeviceAddrSize = kCmdSetDeviceAddrLen;
constexpr int kCmdSelectDeviceAddrSize = 2;
constexpr int kCmdTransmitSize = kCmdTransmitLen;
constexpr int kCmdReceiveSize = kCmdReceiveLen;
constexpr int kCmdSetRfSettingsSize = kCmdSetRfSettingsLen;
constexpr int kCmdResetDeviceSize = kCmdResetDeviceLen;
constexpr int kCmdSetCollectorPacketsSize = kCmdSetCollectorPacketsLen;
constexpr int kCmdSetAnchorReportSizeSize = kCmdSetAnchorReportSizeLen;
constexpr int kCmdSetMpuConfigSize = kCmdSetMpuConfigLen;
constexpr int kCmdSetUserdataSizeSize = kCmdSetUserdataSizeLen;
constexpr int kCmdAnnounceRequestSize = 7;
constexpr int kCmdSplitSyncSize = 12;

constexpr int kPacketAnnounceResponseSize = 5;
constexpr int kPacketSyncSize = 25;
constexpr int kPacketAnchorReportSize = 10;
constexpr int kPacketTagReportSize = 10;
constexpr int kPacketRtlsTagReportSize = 7;
constexpr int kPacketRfReportItemHeaderSize = 20;
constexpr int kPacketRfReportItemAnchorCompactSize = 10;
constexpr int kSspCmdSetRxPassthroughDataSize = 21;
constexpr int kSspCmdSetTxPassthroughDataSize = 4;
constexpr int kTimeTransferPktSize = 9;

constexpr int kSensorDataHeaderSize = 2;
constexpr int kSensorDataBarSize = 8;
constexpr int kSensorDataTempSize = 6;
constexpr int kSensorDataAccelSize = 10;
constexpr int kSensorDataGyroSize = 10;
constexpr int kSensorDataMagSize = 10;
constexpr int kSensorDataQuaternionSize = 20;

constexpr int kEthernetAnnouncePacketSize = 12;
constexpr int kEthernetConfigPacket2Size = 9;
constexpr int kEthernetConfigPacketSize = 8;

// Six u16 receive-quality values as carried in receive headers and report items.
constexpr int kSignalStrengthSize = 12;

}  // namespace device_protocol
