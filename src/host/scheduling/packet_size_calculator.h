#pragma once
// Sizes in bytes of the packets of one location cycle. Results that would
// not fit 16 bits saturate at 0xFFFF rather than wrap to a small size: every
// such size is far beyond the 1021-byte packet limit and must be seen so.

#include <cstdint>

class PacketSizeCalculator {
  public:
    static constexpr uint16_t kMaxPacketSize = 1021;

    uint16_t ComputeMaxSyncSize() const { return 131; }
    uint16_t ComputeAnnouncementSize() const { return 5; }
    // payload + 6
    uint16_t ComputeBeaconSize(uint16_t payload) const;
    // 30 x anchors + 65
    uint16_t ComputeBeaconlessAnchorReportSize(uint16_t anchors) const;
    // base + items x (beaconSize + 20)
    uint16_t ComputeAnchorReportSize(uint16_t base, uint16_t items, uint16_t beaconSize) const;
    // The beacon plus one report item per anchor: (payload + 6) + anchors x (payload + 26)
    uint16_t ComputeTotalTagNetworkOverhead(uint16_t payload, uint16_t anchors) const;
    // reportSize - 10, or 0 below 10
    uint16_t ComputeAnchorReportPayloadSize(uint16_t reportSize) const;
    // Sensor bytes a tag sends per beacon at this rate (hertz). flags: six
    // sensor enables in the order gyroscope, accelerometer, magnetometer,
    // quaternion, pressure, temperature. A divisor of 0 counts as 1 (as the
    // configuration loader stores it); a rate that is not positive gives
    // 0xFFFF when any sensor is enabled.
    uint16_t ComputeBeaconPayloadSize(const bool* flags, uint16_t rateDivisor, uint16_t subsampleDivisor,
                                      double rate, uint16_t headroom) const;
};
