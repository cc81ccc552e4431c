#pragma once
// The RF time budget of one location cycle, computed once from the settings:
// how long the cycle is, how long each kind of packet holds the air (in
// network time units, Gnt), how large the tag beacon and anchor report
// payloads are and how many tags one cycle carries. Copied by value and
// never changed after construction.

#include <cstdint>

#include "config/settings.h"
#include "host/scheduling/airtime_calculator.h"
#include "host/scheduling/packet_size_calculator.h"
#include "host/scheduling/slottime_calculator.h"
#include "protocol/packets/set_mpu_config_packet.h"

class RfSchedulerSettings {
  public:
    enum Status : uint8_t {
        kStatusOk = 0,
        // Nothing computed: default-constructed, no settings, a sync rate of
        // 0, below 0 or not a number, or a beacon that fits at a rate so slow
        // that the cycle exceeds 32 bits. An infinite rate gives a cycle of 0.
        kStatusNotComputed = 1,
        kStatusBeaconTooLong = 2,  // payload + 6 exceeds 1021 bytes
        kStatusNoTagFits = 3,
        kStatusOvercommitted = 4,  // the packets of one cycle need more than the cycle
    };

    enum SlotIndex : uint8_t {
        kSlotSync = 0,
        kSlotAnnouncement = 1,
        kSlotTagBeacon = 2,
        kSlotAnchorReport = 3,
        kSlotRemainder = 4,
    };
    static constexpr int kNumSlotTimes = 5;

    RfSchedulerSettings() = default;
    explicit RfSchedulerSettings(Settings* settings);

    uint8_t GetStatus() const { return status_; }
    uint16_t GetMaxNumTags() const { return max_num_tags_; }
    uint16_t GetBeaconPayloadSize() const { return beacon_payload_size_; }
    uint16_t GetAnchorReportPayloadSize() const { return anchor_report_payload_size_; }
    uint32_t GetLocationCycle() const { return location_cycle_; }
    // Slot time in Gnt; 0 for an index beyond 4.
    uint32_t GetSlottime(uint8_t index) const { return index < kNumSlotTimes ? slot_times_[index] : 0; }

  private:
    void _SetEnabledSensors(bool (&flags)[6], sensors_config_t config);
    void _SetControlSegmentSlottimes(dw_prf_mode_t mode, double rate);
    uint16_t _ComputeNumBeaconsPerAnswerSegment();
    uint32_t _CalculateMaxBeaconsPerAllotedLocationCycle(PacketSizeCalculator calculator, uint16_t anchors,
                                                         uint16_t reportSize);
    uint16_t _ComputeNumBeaconItemsPerAnchorReport(uint16_t reportSize, uint16_t beaconSize);
    uint64_t _ComputeUtilizedTime(uint16_t anchors, uint16_t beacons);

    uint8_t status_ = kStatusNotComputed;
    uint16_t max_num_tags_ = 0;
    uint16_t beacon_payload_size_ = 0;
    uint16_t anchor_report_payload_size_ = 0;
    uint32_t location_cycle_ = 0;
    uint32_t slot_times_[kNumSlotTimes] = {0, 0, 0, 0, 0};
    SlottimeCalculator slottime_calculator_;
    PacketSizeCalculator packet_size_calculator_;
};
