#include "host/scheduling/rf_scheduler_settings.h"

#include <algorithm>

#include "config/flat_settings_interface.h"

namespace {

constexpr double kUsecToGnt = 0.975;

// The location cycle in Gnt for a positive sync rate in hertz, or false when
// it does not fit 32 bits (a rate below about 2.3e-4 Hz): that conversion
// has no defined result. An infinite rate gives a cycle of 0.
bool LocationCycleForRate(double rate, uint32_t* cycle) {
    const double gnt = 1000000.0 / rate * kUsecToGnt;
    if (!(gnt >= 0.0 && gnt < 4294967296.0)) {
        return false;
    }
    *cycle = static_cast<uint32_t>(gnt);
    return true;
}

}  // namespace

RfSchedulerSettings::RfSchedulerSettings(Settings* settings) {
    if (settings == nullptr) {
        return;
    }
    const FlatSettingsInterface flat(settings);
    const sensors_config_t sensors = flat.GetSensorSettings();

    bool flags[6];
    _SetEnabledSensors(flags, sensors);

    // A rate of 0, below 0 or not a number sizes neither the cycle nor the
    // beacon: nothing is computed.
    const double rate = flat.GetSyncRate();
    if (!(rate > 0.0)) {
        return;
    }

    beacon_payload_size_ = packet_size_calculator_.ComputeBeaconPayloadSize(
        flags, static_cast<uint16_t>(sensors.sample_rate_divisor + 1), sensors.subsample_rate_divisor, rate,
        sensors.payload_headroom);
    // ComputeBeaconSize saturates, so an oversized payload cannot wrap into a
    // small beacon that passes this check.
    const uint16_t beacon_size = packet_size_calculator_.ComputeBeaconSize(beacon_payload_size_);
    if (beacon_size > PacketSizeCalculator::kMaxPacketSize) {
        status_ = kStatusBeaconTooLong;
        return;
    }

    // Saturated rather than truncated: 65536 anchors must not count as none.
    // Any count from 32 up leaves no room for a beacon item in a report.
    const uint16_t anchors =
        static_cast<uint16_t>(std::min<uint32_t>(flat.GetNumberOfActiveWirelessAnchors(), 0xFFFF));

    // Checked only here, after the beacon: a slow rate whose beacon is too
    // long reports that, as it would with a cycle that fits.
    uint32_t cycle;
    if (!LocationCycleForRate(rate, &cycle)) {
        return;  // status stays "not computed"
    }
    _SetControlSegmentSlottimes(static_cast<dw_prf_mode_t>(flat.GetRfSettings().prf_flag), rate);
    slot_times_[kSlotTagBeacon] = slottime_calculator_.ComputePacketGnt(beacon_size);

    uint16_t beacons;
    if (anchors == 0) {
        beacons = _ComputeNumBeaconsPerAnswerSegment();
        slot_times_[kSlotAnchorReport] = 0;
        anchor_report_payload_size_ = 0;
    } else {
        const uint16_t base = packet_size_calculator_.ComputeBeaconlessAnchorReportSize(anchors);
        const uint32_t cap =
            _CalculateMaxBeaconsPerAllotedLocationCycle(packet_size_calculator_, anchors, base);
        uint16_t items = _ComputeNumBeaconItemsPerAnchorReport(base, beacon_size);
        if (items > cap) {
            items = static_cast<uint16_t>(cap);
        }
        const uint16_t report_size =
            packet_size_calculator_.ComputeAnchorReportSize(base, items, beacon_size);
        slot_times_[kSlotAnchorReport] = slottime_calculator_.ComputePacketGnt(report_size);
        anchor_report_payload_size_ = packet_size_calculator_.ComputeAnchorReportPayloadSize(report_size);
        beacons = items;
    }
    if (beacons == 0) {
        status_ = kStatusNoTagFits;
        return;
    }

    const uint64_t used = _ComputeUtilizedTime(anchors, beacons);
    slot_times_[kSlotRemainder] = used < location_cycle_ ? static_cast<uint32_t>(location_cycle_ - used) : 0;
    if (used > location_cycle_) {
        status_ = kStatusOvercommitted;
        return;
    }
    max_num_tags_ = beacons;
    status_ = kStatusOk;
}

void RfSchedulerSettings::_SetEnabledSensors(bool (&flags)[6], sensors_config_t config) {
    // Flag order: gyroscope, accelerometer, magnetometer, quaternion,
    // pressure, temperature; the enable bits are numbered otherwise.
    static constexpr int kBits[6] = {1, 0, 2, 3, 4, 5};
    for (int i = 0; i < 6; ++i) {
        flags[i] = ((config.enable_flags >> kBits[i]) & 1) != 0;
    }
}

void RfSchedulerSettings::_SetControlSegmentSlottimes(dw_prf_mode_t mode, double rate) {
    slottime_calculator_.SetPrfMode(mode);
    uint32_t cycle = 0;
    // The constructor has checked the rate; a rate without a cycle leaves 0.
    LocationCycleForRate(rate, &cycle);
    location_cycle_ = cycle;
    slot_times_[kSlotSync] =
        slottime_calculator_.ComputePacketGnt(packet_size_calculator_.ComputeMaxSyncSize());
    slot_times_[kSlotAnnouncement] =
        slottime_calculator_.ComputePacketGnt(packet_size_calculator_.ComputeAnnouncementSize());
}

uint16_t RfSchedulerSettings::_ComputeNumBeaconsPerAnswerSegment() {
    const uint16_t control = static_cast<uint16_t>(slot_times_[kSlotSync] + slot_times_[kSlotAnnouncement]);
    const int64_t answer_segment = int64_t{location_cycle_} - control;
    if (answer_segment <= 0) {
        return 0;
    }
    // A long cycle holds more beacon slots than the 16-bit tag count can
    // say; the count saturates instead of wrapping (65536 would read as 0).
    const int64_t beacons = answer_segment / slot_times_[kSlotTagBeacon];
    return static_cast<uint16_t>(std::min<int64_t>(beacons, 0xFFFF));
}

uint32_t RfSchedulerSettings::_CalculateMaxBeaconsPerAllotedLocationCycle(PacketSizeCalculator calculator,
                                                                          uint16_t anchors,
                                                                          uint16_t reportSize) {
    const uint32_t per_tag = slottime_calculator_.ComputePacketGnt(
        calculator.ComputeTotalTagNetworkOverhead(beacon_payload_size_, anchors));
    const uint32_t report_time = slottime_calculator_.ComputePacketGnt(reportSize);
    const uint16_t control = static_cast<uint16_t>(slot_times_[kSlotSync] + slot_times_[kSlotAnnouncement]);
    // The reports and control packets are summed in 16 bits. Unsigned, so a
    // wrap is defined; it cannot happen with the 31 anchors at most that
    // leave room for a beacon item in a report.
    const uint16_t reserved = static_cast<uint16_t>(anchors * report_time + control);
    const int64_t room = std::max<int64_t>(int64_t{location_cycle_} - reserved, 0);
    return static_cast<uint32_t>(room / per_tag);
}

uint16_t RfSchedulerSettings::_ComputeNumBeaconItemsPerAnchorReport(uint16_t reportSize,
                                                                    uint16_t beaconSize) {
    const int room = int{PacketSizeCalculator::kMaxPacketSize} - reportSize;
    if (room <= 0) {
        return 0;
    }
    return static_cast<uint16_t>(room / (beaconSize + 20));
}

uint64_t RfSchedulerSettings::_ComputeUtilizedTime(uint16_t anchors, uint16_t beacons) {
    return uint64_t{slot_times_[kSlotAnnouncement]} + slot_times_[kSlotSync] +
           uint64_t{anchors} * slot_times_[kSlotAnchorReport] +
           uint64_t{beacons} * slot_times_[kSlotTagBeacon];
}
