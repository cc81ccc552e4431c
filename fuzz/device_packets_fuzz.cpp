// Every fixed-size device record decoded from the front and from the back
// of the input, then encoded again. The codecs take no length, so each one
// reads from a heap copy of exactly its size: a read past the record is a
// sanitizer report. Encoding goes into a buffer with guard bytes behind it.
//
// All records but one must give back the bytes they were decoded from.
// CmdSetMpuConfig is not byte-exact by design: it keeps only bits 4-0 of its
// two code bytes, so for it the decoded values are compared instead.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/announce_request_packet.h"
#include "protocol/packets/announce_response_packet.h"
#include "protocol/packets/ethernet_announce_packet.h"
#include "protocol/packets/ethernet_config2_packet.h"
#include "protocol/packets/ethernet_config_packet.h"
#include "protocol/packets/led_control_packet.h"
#include "protocol/packets/receive_packet.h"
#include "protocol/packets/reset_device_packet.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/rx_passthrough_data_packet.h"
#include "protocol/packets/select_device_addr_packet.h"
#include "protocol/packets/sensor_data_accel_packet.h"
#include "protocol/packets/sensor_data_bar_packet.h"
#include "protocol/packets/sensor_data_gyro_packet.h"
#include "protocol/packets/sensor_data_header_packet.h"
#include "protocol/packets/sensor_data_mag_packet.h"
#include "protocol/packets/sensor_data_quaternion_packet.h"
#include "protocol/packets/sensor_data_temp_packet.h"
#include "protocol/packets/set_anchor_report_size_packet.h"
#include "protocol/packets/set_collector_packets_packet.h"
#include "protocol/packets/set_device_addr_packet.h"
#include "protocol/packets/set_mpu_config_packet.h"
#include "protocol/packets/set_rf_settings_packet.h"
#include "protocol/packets/set_userdata_size_packet.h"
#include "protocol/packets/signal_strength_packet.h"
#include "protocol/packets/split_sync_packet.h"
#include "protocol/packets/ssp_cmd_exec_sync_cmds_packet.h"
#include "protocol/packets/ssp_cmd_get_gnt_packet.h"
#include "protocol/packets/ssp_cmd_packet.h"
#include "protocol/packets/ssp_cmd_set_rx_passthrough_packet.h"
#include "protocol/packets/ssp_cmd_set_sync_cmds_packet.h"
#include "protocol/packets/ssp_cmd_set_tx_passthrough_packet.h"
#include "protocol/packets/ssp_cmd_start_sync_packet.h"
#include "protocol/packets/ssp_cmd_stop_sync_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/packets/tag_report_packet.h"
#include "protocol/packets/time_transfer_packet.h"
#include "protocol/packets/transmit_packet.h"
#include "protocol/packets/tx_passthrough_data_packet.h"
#include "support/fuzz_check.h"

namespace {

constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 8;

// Decodes the `size` bytes at `input` and encodes the record again; returns
// the encoded bytes, aborting on a wrong result or a write past the record.
template <typename Record>
std::vector<uint8_t> DecodeEncode(const uint8_t* input, int size, int (*from_buff)(const uint8_t*, Record*),
                                  int (*to_buff)(uint8_t*, const Record*), Record* record) {
    const std::vector<uint8_t> exact(input, input + size);
    *record = Record{};
    Check(from_buff(exact.data(), record) == size);
    std::vector<uint8_t> output(static_cast<size_t>(size) + kGuardBytes, kGuard);
    Check(to_buff(output.data(), record) == size);
    for (size_t i = static_cast<size_t>(size); i < output.size(); ++i)
        Check(output[i] == kGuard);
    output.resize(static_cast<size_t>(size));
    return output;
}

template <typename Record>
void ByteExact(const uint8_t* data, size_t length, int (*from_buff)(const uint8_t*, Record*),
               int (*to_buff)(uint8_t*, const Record*), int (*size_fn)()) {
    const int size = size_fn();
    if (length < static_cast<size_t>(size))
        return;
    for (const uint8_t* input : {data, data + length - static_cast<size_t>(size)}) {
        Record record;
        const std::vector<uint8_t> output = DecodeEncode(input, size, from_buff, to_buff, &record);
        Check(std::memcmp(output.data(), input, static_cast<size_t>(size)) == 0);
    }
}

bool SameConfig(const cmd_set_mpu_config_t& a, const cmd_set_mpu_config_t& b) {
    return a.type == b.type && a.len == b.len &&
           a.sensors_config.enable_flags == b.sensors_config.enable_flags &&
           a.sensors_config.gyroscope_scale_code == b.sensors_config.gyroscope_scale_code &&
           a.sensors_config.gyroscope_filter_code == b.sensors_config.gyroscope_filter_code &&
           a.sensors_config.accelerometer_scale_code == b.sensors_config.accelerometer_scale_code &&
           a.sensors_config.accelerometer_filter_code == b.sensors_config.accelerometer_filter_code &&
           a.sensors_config.sample_rate_divisor == b.sensors_config.sample_rate_divisor &&
           a.sensors_config.subsample_rate_divisor == b.sensors_config.subsample_rate_divisor;
}

void MpuConfig(const uint8_t* data, size_t length) {
    const int size = CmdSetMpuConfig_Size();
    if (length < static_cast<size_t>(size))
        return;
    cmd_set_mpu_config_t first;
    const std::vector<uint8_t> output =
        DecodeEncode(data, size, CmdSetMpuConfig_FromBuff, CmdSetMpuConfig_ToBuff, &first);
    cmd_set_mpu_config_t second;
    DecodeEncode(output.data(), size, CmdSetMpuConfig_FromBuff, CmdSetMpuConfig_ToBuff, &second);
    Check(SameConfig(first, second));
    // Only the three unused top bits of the two code bytes may differ.
    for (int i = 0; i < size; ++i) {
        const uint8_t mask = (i == 3 || i == 4) ? 0x1F : 0xFF;
        Check(output[static_cast<size_t>(i)] == (data[i] & mask));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteExact(data, size, SspCmd_FromBuff, SspCmd_ToBuff, SspCmd_Size);
    ByteExact(data, size, SspCmdStartSync_FromBuff, SspCmdStartSync_ToBuff, SspCmdStartSync_Size);
    ByteExact(data, size, SspCmdGetGnt_FromBuff, SspCmdGetGnt_ToBuff, SspCmdGetGnt_Size);
    ByteExact(data, size, SspCmdSetRxPassthrough_FromBuff, SspCmdSetRxPassthrough_ToBuff,
              SspCmdSetRxPassthrough_Size);
    ByteExact(data, size, SspCmdSetTxPassthrough_FromBuff, SspCmdSetTxPassthrough_ToBuff,
              SspCmdSetTxPassthrough_Size);
    ByteExact(data, size, SspCmdSetSyncCmds_FromBuff, SspCmdSetSyncCmds_ToBuff, SspCmdSetSyncCmds_Size);
    ByteExact(data, size, SspCmdExecSyncCmds_FromBuff, SspCmdExecSyncCmds_ToBuff, SspCmdExecSyncCmds_Size);
    ByteExact(data, size, SspCmdStopSync_FromBuff, SspCmdStopSync_ToBuff, SspCmdStopSync_Size);
    ByteExact(data, size, CmdLedControl_FromBuff, CmdLedControl_ToBuff, CmdLedControl_Size);
    ByteExact(data, size, CmdSetDeviceAddr_FromBuff, CmdSetDeviceAddr_ToBuff, CmdSetDeviceAddr_Size);
    ByteExact(data, size, CmdSelectDeviceAddr_FromBuff, CmdSelectDeviceAddr_ToBuff, CmdSelectDeviceAddr_Size);
    ByteExact(data, size, CmdTransmit_FromBuff, CmdTransmit_ToBuff, CmdTransmit_Size);
    ByteExact(data, size, CmdReceive_FromBuff, CmdReceive_ToBuff, CmdReceive_Size);
    ByteExact(data, size, CmdSetRfSettings_FromBuff, CmdSetRfSettings_ToBuff, CmdSetRfSettings_Size);
    ByteExact(data, size, CmdResetDevice_FromBuff, CmdResetDevice_ToBuff, CmdResetDevice_Size);
    ByteExact(data, size, CmdSetCollectorPackets_FromBuff, CmdSetCollectorPackets_ToBuff,
              CmdSetCollectorPackets_Size);
    ByteExact(data, size, CmdSetAnchorReportSize_FromBuff, CmdSetAnchorReportSize_ToBuff,
              CmdSetAnchorReportSize_Size);
    MpuConfig(data, size);
    ByteExact(data, size, CmdSetUserdataSize_FromBuff, CmdSetUserdataSize_ToBuff, CmdSetUserdataSize_Size);
    ByteExact(data, size, CmdAnnounceRequest_FromBuff, CmdAnnounceRequest_ToBuff, CmdAnnounceRequest_Size);
    ByteExact(data, size, CmdSplitSync_FromBuff, CmdSplitSync_ToBuff, CmdSplitSync_Size);
    ByteExact(data, size, PacketAnnounceResponse_FromBuff, PacketAnnounceResponse_ToBuff,
              PacketAnnounceResponse_Size);
    ByteExact(data, size, PacketSync_FromBuff, PacketSync_ToBuff, PacketSync_Size);
    ByteExact(data, size, PacketAnchorReport_FromBuff, PacketAnchorReport_ToBuff, PacketAnchorReport_Size);
    ByteExact(data, size, PacketTagReport_FromBuff, PacketTagReport_ToBuff, PacketTagReport_Size);
    ByteExact(data, size, PacketRtlsTagReport_FromBuff, PacketRtlsTagReport_ToBuff, PacketRtlsTagReport_Size);
    ByteExact(data, size, PacketRfReportItemHeader_FromBuff, PacketRfReportItemHeader_ToBuff,
              PacketRfReportItemHeader_Size);
    ByteExact(data, size, PacketRfReportItemAnchorCompact_FromBuff, PacketRfReportItemAnchorCompact_ToBuff,
              PacketRfReportItemAnchorCompact_Size);
    ByteExact(data, size, SspCmdSetRxPassthrough_Data_FromBuff, SspCmdSetRxPassthrough_Data_ToBuff,
              SspCmdSetRxPassthrough_Data_Size);
    ByteExact(data, size, SspCmdSetTxPassthrough_Data_FromBuff, SspCmdSetTxPassthrough_Data_ToBuff,
              SspCmdSetTxPassthrough_Data_Size);
    ByteExact(data, size, TimeTransferPkt_FromBuff, TimeTransferPkt_ToBuff, TimeTransferPkt_Size);
    ByteExact(data, size, SignalStrength_FromBuff, SignalStrength_ToBuff, SignalStrength_Size);
    ByteExact(data, size, SensorDataHeader_FromBuff, SensorDataHeader_ToBuff, SensorDataHeader_Size);
    ByteExact(data, size, SensorDataBar_FromBuff, SensorDataBar_ToBuff, SensorDataBar_Size);
    ByteExact(data, size, SensorDataTemp_FromBuff, SensorDataTemp_ToBuff, SensorDataTemp_Size);
    ByteExact(data, size, SensorDataAccel_FromBuff, SensorDataAccel_ToBuff, SensorDataAccel_Size);
    ByteExact(data, size, SensorDataGyro_FromBuff, SensorDataGyro_ToBuff, SensorDataGyro_Size);
    ByteExact(data, size, SensorDataMag_FromBuff, SensorDataMag_ToBuff, SensorDataMag_Size);
    ByteExact(data, size, SensorDataQuaternion_FromBuff, SensorDataQuaternion_ToBuff,
              SensorDataQuaternion_Size);
    ByteExact(data, size, EthernetAnnouncePacket_FromBuff, EthernetAnnouncePacket_ToBuff,
              EthernetAnnouncePacket_Size);
    ByteExact(data, size, EthernetConfigPacket2_FromBuff, EthernetConfigPacket2_ToBuff,
              EthernetConfigPacket2_Size);
    ByteExact(data, size, EthernetConfigPacket_FromBuff, EthernetConfigPacket_ToBuff,
              EthernetConfigPacket_Size);
    return 0;
}
