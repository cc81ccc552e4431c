#include "simulator/device_simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "base/byte_order.h"
#include "base/serial_number.h"
#include "protocol/packets/anchor_report_packet.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/ethernet_announce_packet.h"
#include "protocol/packets/ethernet_config2_packet.h"
#include "protocol/packets/rf_report_item_anchor_compact_packet.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rtls_tag_report_packet.h"
#include "protocol/packets/rx_passthrough_data_packet.h"
#include "protocol/packets/signal_strength_packet.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/packets/tx_passthrough_data_packet.h"
#include "protocol/ssp/ssp_protocol.h"
#include "protocol/vex/vex_data_types.h"
#include "simulator/sim_device.h"
#include "simulator/sim_ports.h"
#include "simulator/sim_radio.h"
#include "simulator/sim_tag_payload.h"

namespace dp = device_protocol;

// Everything the simulator thread keeps per device beside its protocol state.
struct sim_device_runtime_t {
    PtyPort pty;
    UdpPort udp;
    ssp_state_t ssp;
    bool plugged = false;
    // Ethernet: where to send (host order), as the configuration datagram said.
    uint32_t host_address = 0;
    uint16_t host_port = 0;
    uint8_t vlan_id = 0;
    int64_t next_ethernet_announce_ns = 0;
    uint32_t vuv_sequence = 0;
    // Master: its syncs since the last start. Syncs of an earlier start carry
    // an older generation and are dropped.
    uint32_t generation = 0;
    double epoch_ticks = 0.0;  // the unwrapped counter at network time 0
    // Over the air.
    int64_t last_rf_announce_ns = -(int64_t{1} << 62);
    // The server takes a tag's first sequence number 0 for a repeat of nothing: start at 1.
    uint8_t ping_sequence = 1;
    uint8_t report_sequence = 0;
    std::vector<std::vector<uint8_t>> report_items;  // a wireless anchor's items for its next report
    SimTagPayload tag_payload;
    double last_ping_s = -1.0;
    uint32_t last_ping_network_time = 0;
    // Counters for the status.
    uint32_t syncs_sent = 0;
    uint32_t pings_sent = 0;
    uint32_t anchor_reports_sent = 0;
    uint32_t announces_sent = 0;
    uint64_t bytes_dropped = 0;
};

namespace {

constexpr int64_t kNsPerMs = 1000000;
// An unaddressed device announces itself in the announcement slot at most this often.
constexpr int64_t kRfAnnounceIntervalNs = 100 * kNsPerMs;
// Where the announcement falls when the master names no slot: just after the
// sync packet's own airtime (131 bytes take 558 network time units).
constexpr uint32_t kDefaultAnnounceOffset = 600;
constexpr size_t kTruthBacklog = 100000;
constexpr int64_t kStatusRefreshNs = 10 * kNsPerMs;
constexpr size_t kRecordBacklog = 100000;
constexpr uint32_t kMaxVuvDatagram = 65535;

std::vector<uint8_t> Concat(const uint8_t* head, size_t head_length, const std::vector<uint8_t>& tail) {
    std::vector<uint8_t> bytes(head, head + head_length);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

}  // namespace

int64_t SimMonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

DeviceSimulator::DeviceSimulator(const sim_site_t& site) : site_(site), noise_(site.seed) {
    std::mt19937_64 clocks(site.seed ^ 0x5eedc10cULL);
    std::uniform_real_distribution<double> offset(0.0, static_cast<double>(kDeviceTimeWrap));
    std::uniform_real_distribution<double> drift(-site.max_clock_drift_ppm, site.max_clock_drift_ppm);
    for (const auto& device : site_.devices) {
        const double drawn_offset = offset(clocks);
        const double drawn_drift = drift(clocks);
        const SimClock clock(std::isnan(device.clock_offset_ticks) ? drawn_offset : device.clock_offset_ticks,
                             std::isnan(device.clock_drift_ppm) ? drawn_drift : device.clock_drift_ppm);
        devices_.push_back(std::make_unique<SimDevice>(device, clock));
        runtime_.push_back(std::make_unique<sim_device_runtime_t>());
        sim_device_status_t status;
        status.serial_number = device.serial_number;
        status_.push_back(status);
    }
}

DeviceSimulator::~DeviceSimulator() {
    Stop();
}

bool DeviceSimulator::Start(std::string* error) {
    if (thread_.joinable()) {
        *error = "already running";
        return false;
    }
    start_ns_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count();
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i]->HasLink() && !OpenPort(i, error)) {
            for (size_t j = 0; j < i; ++j)
                ClosePort(j);
            return false;
        }
        UpdateStatus(i);
    }
    if (site_.truth_port != 0) {
        truth_port_ = std::make_unique<UdpPort>();
        if (!truth_port_->Open(site_.interface_address, 0, error)) {
            Stop();
            return false;
        }
    }
    if (!site_.truth_csv_path.empty()) {
        truth_csv_ = fopen(site_.truth_csv_path.c_str(), "w");
        if (truth_csv_ == nullptr) {
            *error = "cannot write " + site_.truth_csv_path;
            Stop();
            return false;
        }
        fprintf(truth_csv_, "time_s,serial_number,x,y,z,network_time,sequence\n");
        fflush(truth_csv_);
    }
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    stopping_ = false;
    thread_ = std::thread(&DeviceSimulator::Run, this);
    return true;
}

void DeviceSimulator::Stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        const uint64_t one = 1;
        if (write(wake_fd_, &one, sizeof(one)) < 0) {
            // The thread also wakes by itself within its longest wait.
        }
        thread_.join();
    }
    for (size_t i = 0; i < runtime_.size(); ++i)
        ClosePort(i);
    if (wake_fd_ >= 0)
        close(wake_fd_);
    wake_fd_ = -1;
    if (truth_csv_ != nullptr)
        fclose(truth_csv_);
    truth_csv_ = nullptr;
    truth_port_.reset();
    // Requests that came too late are answered, so that no caller waits for nothing.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& request : requests_)
        request->done = true;
    requests_.clear();
    request_done_.notify_all();
}

bool DeviceSimulator::Unplug(uint32_t serial_number) {
    return RequestPlug(serial_number, false);
}

bool DeviceSimulator::Plug(uint32_t serial_number) {
    return RequestPlug(serial_number, true);
}

bool DeviceSimulator::RequestPlug(uint32_t serial_number, bool plug) {
    auto request = std::make_shared<request_t>();
    request->serial_number = serial_number;
    request->plug = plug;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable())
        return false;
    requests_.push_back(request);
    const uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof(one)) < 0) {
        // Picked up at the thread's next turn all the same.
    }
    request_done_.wait_for(lock, std::chrono::seconds(5), [&] { return request->done; });
    return request->result;
}

double DeviceSimulator::Now() const {
    return Seconds(NowNs());
}

Coordinates DeviceSimulator::TruePosition(uint32_t serial_number, double time_s) const {
    const sim_device_t* device = site_.Find(serial_number);
    return device == nullptr ? Coordinates() : SimDevicePosition(*device, time_s);
}

sim_device_status_t DeviceSimulator::GetStatus(uint32_t serial_number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& status : status_) {
        if (status.serial_number == serial_number)
            return status;
    }
    return sim_device_status_t();
}

std::vector<sim_truth_t> DeviceSimulator::TakeTruth() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<sim_truth_t> taken(truth_.begin(), truth_.end());
    truth_.clear();
    return taken;
}

std::vector<sim_sync_stamp_t> DeviceSimulator::TakeSyncStamps() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<sim_sync_stamp_t> taken(sync_stamps_.begin(), sync_stamps_.end());
    sync_stamps_.clear();
    return taken;
}

std::vector<sim_record_t> DeviceSimulator::TakeRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<sim_record_t> taken(std::make_move_iterator(records_.begin()),
                                    std::make_move_iterator(records_.end()));
    records_.clear();
    return taken;
}

void DeviceSimulator::Record(sim_record_t record) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(std::move(record));
    while (records_.size() > kRecordBacklog)
        records_.pop_front();
}

int64_t DeviceSimulator::NowNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
               .count() -
           start_ns_;
}

int64_t DeviceSimulator::Nanoseconds(double seconds) const {
    return static_cast<int64_t>(std::llround(seconds * 1e9));
}

void DeviceSimulator::Run() {
    std::vector<pollfd> fds;
    std::vector<size_t> owners;
    int64_t next_status_ns = 0;
    while (!stopping_) {
        std::deque<std::shared_ptr<request_t>> requests;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests.swap(requests_);
        }
        for (auto& request : requests) {
            bool result = false;
            for (size_t i = 0; i < devices_.size(); ++i) {
                if (devices_[i]->SerialNumber() != request->serial_number || !devices_[i]->HasLink())
                    continue;
                std::string error;
                if (request->plug) {
                    result = runtime_[i]->plugged || OpenPort(i, &error);
                    if (!error.empty())
                        printf("simulator: %s\n", error.c_str());
                } else {
                    ClosePort(i);
                    result = true;
                }
            }
            for (size_t i = 0; i < devices_.size(); ++i)
                UpdateStatus(i);
            std::lock_guard<std::mutex> lock(mutex_);
            request->result = result;
            request->done = true;
            request_done_.notify_all();
        }

        const int64_t now = NowNs();
        RunDueEvents(now);
        int64_t next = now + 50 * kNsPerMs;
        // The statuses are refreshed every few milliseconds, not at every
        // turn: with hundreds of devices the turns come thousands a second.
        const bool refresh = now >= next_status_ns;
        if (refresh)
            next_status_ns = now + kStatusRefreshNs;
        for (size_t i = 0; i < devices_.size(); ++i) {
            sim_device_runtime_t& runtime = *runtime_[i];
            if (runtime.plugged && devices_[i]->Config().link == SimLinkKind::kEthernet) {
                if (now >= runtime.next_ethernet_announce_ns) {
                    SendEthernetAnnounce(i);
                    runtime.next_ethernet_announce_ns = now + site_.announce_period_ms * kNsPerMs;
                }
                next = std::min(next, runtime.next_ethernet_announce_ns);
            }
            if (refresh)
                UpdateStatus(i);
        }
        next = std::min(next, next_status_ns);
        if (!events_.empty())
            next = std::min(next, events_.begin()->first);

        fds.clear();
        owners.clear();
        fds.push_back({wake_fd_, POLLIN, 0});
        owners.push_back(SIZE_MAX);
        for (size_t i = 0; i < runtime_.size(); ++i) {
            const int fd = runtime_[i]->pty.IsOpen() ? runtime_[i]->pty.Fd() : runtime_[i]->udp.Fd();
            if (runtime_[i]->plugged && fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
                owners.push_back(i);
            }
        }
        const int64_t wait_ns = std::max<int64_t>(0, next - NowNs());
        const timespec timeout{static_cast<time_t>(wait_ns / 1000000000),
                               static_cast<long>(wait_ns % 1000000000)};
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) <= 0)
            continue;
        for (size_t k = 0; k < fds.size(); ++k) {
            if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            if (owners[k] == SIZE_MAX) {
                uint64_t count;
                if (read(wake_fd_, &count, sizeof(count)) < 0) {
                    // Nothing to drain.
                }
            } else {
                ReadPort(owners[k]);
            }
        }
    }
}

void DeviceSimulator::RunDueEvents(int64_t now_ns) {
    while (!events_.empty() && events_.begin()->first <= now_ns) {
        auto action = std::move(events_.begin()->second);
        events_.erase(events_.begin());
        action();
    }
}

void DeviceSimulator::Schedule(int64_t at_ns, std::function<void()> action) {
    events_.emplace(at_ns, std::move(action));
}

bool DeviceSimulator::OpenPort(size_t index, std::string* error) {
    const sim_device_t& config = devices_[index]->Config();
    sim_device_runtime_t& runtime = *runtime_[index];
    if (config.link == SimLinkKind::kUsb) {
        if (!runtime.pty.Open(config.usb_path, error))
            return false;
    } else if (config.link == SimLinkKind::kEthernet) {
        if (!runtime.udp.Open(site_.interface_address, config.ethernet_port, error))
            return false;
        runtime.host_address = 0;
        runtime.host_port = 0;
        runtime.next_ethernet_announce_ns = 0;
    } else {
        return false;
    }
    // A device that comes back is powered up again: fresh framing, fresh state.
    ssp_init(&runtime.ssp, SSP_MAX_PAYLOAD_LENGTH);
    devices_[index]->Reset();
    runtime.generation++;
    runtime.plugged = true;
    return true;
}

void DeviceSimulator::ClosePort(size_t index) {
    sim_device_runtime_t& runtime = *runtime_[index];
    runtime.pty.Close();
    runtime.udp.Close();
    runtime.plugged = false;
    runtime.host_address = 0;
    runtime.host_port = 0;
    // Unplugged, the device is also without power: a master stops its syncs.
    devices_[index]->syncing = false;
    runtime.generation++;
}

void DeviceSimulator::ReadPort(size_t index) {
    sim_device_runtime_t& runtime = *runtime_[index];
    uint8_t buffer[4096];
    if (runtime.pty.IsOpen()) {
        long got;
        while ((got = runtime.pty.Read(buffer, sizeof(buffer))) > 0) {
            for (long i = 0; i < got; ++i) {
                const uint8_t* payload = ssp_rx_protocol(&runtime.ssp, buffer[i]);
                if (payload != nullptr)
                    HandleSspPayload(index, payload, runtime.ssp.rx_length);
                if (!runtime.pty.IsOpen())
                    return;
            }
        }
        return;
    }
    uint32_t from = 0;
    uint16_t from_port = 0;
    long got;
    while (runtime.udp.IsOpen() &&
           (got = runtime.udp.Receive(buffer, sizeof(buffer), &from, &from_port)) >= 0)
        HandleEthernetDatagram(index, buffer, static_cast<size_t>(got), from, from_port);
}

void DeviceSimulator::HandleEthernetDatagram(size_t index, const uint8_t* data, size_t length, uint32_t,
                                             uint16_t) {
    sim_device_runtime_t& runtime = *runtime_[index];
    if (length == static_cast<size_t>(dp::kEthernetConfigPacket2Size) && data[0] == dp::kEthernetConfig) {
        ethernet_config_packet2_t config;
        EthernetConfigPacket2_FromBuff(data, &config);
        // Address and port travel least significant byte first; the codec reads them big-endian.
        runtime.host_address = __builtin_bswap32(config.host_ipv4_address);
        runtime.host_port = __builtin_bswap16(config.host_port);
        runtime.vlan_id = config.vlan_id;
        return;
    }
    if (length > 1 && data[0] == dp::kEthernetSspFrame) {
        for (size_t i = 1; i < length; ++i) {
            const uint8_t* payload = ssp_rx_protocol(&runtime.ssp, data[i]);
            if (payload != nullptr)
                HandleSspPayload(index, payload, runtime.ssp.rx_length);
            if (!runtime.udp.IsOpen())
                return;
        }
    }
}

void DeviceSimulator::HandleSspPayload(size_t index, const uint8_t* payload, size_t length) {
    SimDevice& device = *devices_[index];
    if (recording_)
        Record({sim_record_t::Kind::kFromServer, Seconds(NowNs()), device.SerialNumber(),
                std::vector<uint8_t>(payload, payload + length)});
    const sim_ssp_outcome_t outcome = device.HandleSspPayload(payload, length);
    if (outcome.stop_sync)
        StopSync(index);
    if (outcome.start_sync) {
        device.sync_parameters = outcome.start;
        StartSync(index, NowNs());
    }
    // Whoever gets the answer finds the status already saying what the command did.
    UpdateStatus(index);
    for (const auto& reply : outcome.replies)
        SendPayload(index, reply);
}

void DeviceSimulator::SendPayload(size_t index, const std::vector<uint8_t>& payload) {
    sim_device_runtime_t& runtime = *runtime_[index];
    if (!runtime.plugged || payload.empty() || payload.size() > SSP_MAX_PAYLOAD_LENGTH)
        return;
    const SimLinkKind link = devices_[index]->Config().link;
    if (link == SimLinkKind::kEthernet) {
        if (runtime.host_address == 0)
            return;  // not configured yet: the device does not know where the server is
        if (IsMulticastIpv4(runtime.host_address)) {
            PublishAsVuv(index, payload);
            return;
        }
    }
    std::copy(payload.begin(), payload.end(), runtime.ssp.tx_buffer + SSP_HEADER_SIZE);
    const uint16_t frame = ssp_tx_wrap(&runtime.ssp, static_cast<uint16_t>(payload.size()));
    if (frame == 0)
        return;
    if (link == SimLinkKind::kUsb)
        runtime.bytes_dropped += runtime.pty.Write(runtime.ssp.tx_buffer, frame);
    else if (!runtime.udp.SendTo(runtime.host_address, runtime.host_port, runtime.ssp.tx_buffer, frame))
        runtime.bytes_dropped += frame;
}

void DeviceSimulator::SendEthernetAnnounce(size_t index) {
    sim_device_runtime_t& runtime = *runtime_[index];
    ethernet_announce_t announce;
    announce.type = dp::kEthernetAnnounce;
    announce.serial_number = devices_[index]->SerialNumber();
    // The host the device sends to, least significant byte first like the configuration datagram.
    announce.host_ipv4_address = __builtin_bswap32(runtime.host_address);
    announce.host_port = __builtin_bswap16(runtime.host_port);
    announce.vlan_id = runtime.vlan_id;
    uint8_t datagram[dp::kEthernetAnnouncePacketSize];
    EthernetAnnouncePacket_ToBuff(datagram, &announce);
    runtime.udp.SendTo(ParseIpv4(site_.config_group), site_.config_port, datagram, sizeof(datagram));
}

void DeviceSimulator::PublishAsVuv(size_t index, const std::vector<uint8_t>& payload) {
    sim_device_runtime_t& runtime = *runtime_[index];
    std::vector<VexPacket> packets;
    if (!SimPayloadToVuv(
            devices_[index]->SerialNumber(), payload.data(), payload.size(),
            [this](uint16_t id) { return SerialOfNetworkId(id); }, &packets))
        return;
    for (auto& packet : packets) {
        uint16_t size = 0;
        uint8_t* buffer = packet.CreateBufferWithSequenceNumber(runtime.vuv_sequence++, &size);
        if (buffer != nullptr && size <= kMaxVuvDatagram)
            runtime.udp.SendTo(runtime.host_address, runtime.host_port, buffer, size);
        delete[] buffer;
    }
}

void DeviceSimulator::StartSync(size_t master, int64_t now_ns) {
    SimDevice& device = *devices_[master];
    sim_device_runtime_t& runtime = *runtime_[master];
    device.syncing = true;
    runtime.generation++;
    // Network time starts again at 0 with the first sync, a moment after the command.
    runtime.epoch_ticks = device.Clock().UnwrappedTicks(Seconds(now_ns) + 0.002);
    const uint32_t generation = runtime.generation;
    Schedule(NetworkTimeToNs(master, 0), [this, master, generation] { TransmitSync(master, generation, 0); });
}

void DeviceSimulator::StopSync(size_t master) {
    devices_[master]->syncing = false;
    runtime_[master]->generation++;
}

int64_t DeviceSimulator::NetworkTimeToNs(size_t master, uint64_t network_time) const {
    const double ticks =
        runtime_[master]->epoch_ticks + static_cast<double>(network_time) * kTicksPerNetworkTimeUnit;
    return Nanoseconds(devices_[master]->Clock().TrueTime(ticks));
}

void DeviceSimulator::TransmitSync(size_t master, uint32_t generation, uint32_t index) {
    SimDevice& device = *devices_[master];
    sim_device_runtime_t& runtime = *runtime_[master];
    if (generation != runtime.generation || !device.syncing)
        return;
    const uint32_t period = device.sync_parameters.sync_period;
    const uint64_t network_time = static_cast<uint64_t>(index) * period;
    const double ticks = runtime.epoch_ticks + static_cast<double>(network_time) * kTicksPerNetworkTimeUnit;
    const double time_s = device.Clock().TrueTime(ticks);

    packet_sync_t sync{};
    sync.type = dp::kRfPacketSync;
    sync.sequence = static_cast<uint8_t>(index);
    sync.network_id = device.network_id;
    sync.network_time = static_cast<uint32_t>(network_time);
    sync.byte_8 = device.sync_parameters.fast_sync_factor;
    sync.field_9 = device.sync_parameters.announcement_slot_start;
    sync.byte_13 = device.sync_parameters.byte_11;
    sync.byte_14 = device.sync_parameters.byte_12;
    sync.field_15 = 0;
    sync.transmit_time = device.Clock().Read(time_s);
    sync.byte_24 = device.sync_command_count;
    std::vector<uint8_t> rf(dp::kPacketSyncSize);
    PacketSync_ToBuff(rf.data(), &sync);
    // The commands the server set ride in this one sync, behind its fixed part.
    rf.insert(rf.end(), device.sync_commands.begin(), device.sync_commands.end());
    device.sync_commands.clear();
    device.sync_command_count = 0;
    if (recording_)
        Record({sim_record_t::Kind::kSync, time_s, device.SerialNumber(), rf});

    runtime.syncs_sent++;
    if (device.tx_passthrough) {
        ssp_cmd_set_tx_passthrough_data_t header{dp::kSspTypeTxPassthrough, 0,
                                                 static_cast<uint16_t>(rf.size())};
        uint8_t head[dp::kSspCmdSetTxPassthroughDataSize];
        SspCmdSetTxPassthrough_Data_ToBuff(head, &header);
        SendPayload(master, Concat(head, sizeof(head), rf));
    }
    last_forward_ns_ = 0;
    Transmit(master, time_s, rf);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sync_stamps_.push_back({static_cast<uint32_t>(network_time), last_forward_ns_});
        while (sync_stamps_.size() > kTruthBacklog)
            sync_stamps_.pop_front();
    }
    PlanSyncPeriod(master, network_time);
    Schedule(NetworkTimeToNs(master, network_time + period),
             [this, master, generation, index] { TransmitSync(master, generation, index + 1); });
}

void DeviceSimulator::PlanSyncPeriod(size_t master, uint64_t window_start) {
    const SimDevice& sync_device = *devices_[master];
    const uint32_t generation = runtime_[master]->generation;
    const uint32_t period = sync_device.sync_parameters.sync_period;
    const uint64_t window_end = window_start + period;  // exclusive
    const uint32_t start32 = static_cast<uint32_t>(window_start);
    // The device's 32-bit network time `at` placed in this window's 64-bit count, by
    // its signed distance from the window's start (network time wraps at 2^32).
    auto unwrap = [&](uint32_t at) -> int64_t {
        return static_cast<int64_t>(window_start) + static_cast<int32_t>(at - start32);
    };
    auto at_network_time = [this, master, generation](uint64_t network_time,
                                                      std::function<void(double)> action) {
        const int64_t ns = NetworkTimeToNs(master, network_time);
        Schedule(ns, [this, master, generation, ns, action] {
            if (runtime_[master]->generation == generation)
                action(Seconds(ns));
        });
    };
    uint32_t announce_offset = sync_device.sync_parameters.announcement_slot_start;
    if (announce_offset == 0 || announce_offset >= period)
        announce_offset = kDefaultAnnounceOffset;

    for (size_t i = 0; i < devices_.size(); ++i) {
        SimDevice& device = *devices_[i];
        sim_device_runtime_t& runtime = *runtime_[i];
        if (device.HasLink() && !runtime.plugged)
            continue;  // without power
        for (const auto& command : device.TakeDueCommands(static_cast<uint32_t>(window_end - 1))) {
            const uint64_t at = static_cast<uint64_t>(
                std::max<int64_t>(unwrap(command.execution_time), static_cast<int64_t>(window_start)));
            at_network_time(at, [this, i, command](double) { devices_[i]->ExecuteTimedCommand(command); });
        }
        if (device.transmitting && device.transmit_rate > 0 && device.addressed) {
            // First transmission at or after the window's start: the schedule runs on from
            // its execution time at the repeat rate.
            int64_t at = unwrap(device.transmit_time);
            if (at < static_cast<int64_t>(window_start)) {
                const int64_t behind = static_cast<int64_t>(window_start) - at;
                at += ((behind + device.transmit_rate - 1) / device.transmit_rate) * device.transmit_rate;
            }
            for (; at < static_cast<int64_t>(window_end); at += device.transmit_rate) {
                const uint64_t network_time = static_cast<uint64_t>(at);
                if (device.IsTag() && device.transmission_type == kSimTransmitTagBeacon) {
                    at_network_time(network_time, [this, i, network_time](double time_s) {
                        TransmitPing(i, time_s, static_cast<uint32_t>(network_time));
                    });
                } else if (!device.IsTag() && device.transmission_type == kSimTransmitAnchorReport) {
                    at_network_time(network_time,
                                    [this, i](double time_s) { TransmitAnchorReport(i, time_s); });
                }
            }
        }
        if (!device.addressed && !device.IsMaster()) {
            const uint64_t network_time = window_start + announce_offset + 40 * i;
            const int64_t ns = NetworkTimeToNs(master, network_time);
            if (ns - runtime.last_rf_announce_ns >= kRfAnnounceIntervalNs) {
                runtime.last_rf_announce_ns = ns;
                at_network_time(network_time, [this, i](double time_s) { TransmitAnnounce(i, time_s); });
            }
        }
    }
}

void DeviceSimulator::Transmit(size_t sender, double time_s, const std::vector<uint8_t>& rf_packet) {
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (i != sender)
            Receive(i, sender, time_s, rf_packet);
    }
}

void DeviceSimulator::Receive(size_t receiver, size_t sender, double time_s,
                              const std::vector<uint8_t>& rf_packet) {
    SimDevice& device = *devices_[receiver];
    sim_device_runtime_t& runtime = *runtime_[receiver];
    if (device.HasLink() && !runtime.plugged)
        return;  // without power
    const uint8_t type = rf_packet[0];
    if (device.IsTag()) {
        // A tag only listens for the commands in the master's syncs.
        if (type == dp::kRfPacketSync && rf_packet.size() > static_cast<size_t>(dp::kPacketSyncSize))
            device.ApplyCommands(rf_packet.data() + dp::kPacketSyncSize,
                                 rf_packet.size() - dp::kPacketSyncSize, false);
        return;
    }
    const Coordinates from = SimDevicePosition(devices_[sender]->Config(), time_s);
    const Coordinates to = SimDevicePosition(device.Config(), time_s);
    const double distance = to.CalculateDistanceBetween(from);
    const double arrival_s = time_s + distance / site_.speed_of_light;
    std::normal_distribution<double> timing(0.0,
                                            site_.tof_noise_m / site_.speed_of_light * kDeviceTicksPerSecond);
    const uint64_t receive_time =
        device.Clock().Read(arrival_s, site_.tof_noise_m > 0.0 ? timing(noise_) : 0.0);
    const signal_strength_t signal = SimSignalStrength(distance, site_, noise_);

    if (type == dp::kRfPacketSync && !device.IsMaster() &&
        rf_packet.size() > static_cast<size_t>(dp::kPacketSyncSize))
        device.ApplyCommands(rf_packet.data() + dp::kPacketSyncSize, rf_packet.size() - dp::kPacketSyncSize,
                             false);

    if (device.HasLink()) {
        if (!device.rx_passthrough)
            return;
        ssp_cmd_set_rx_passthrough_data_t header{};
        header.type = dp::kSspTypeRxPassthrough;
        header.receive_time = receive_time;
        header.signal_strength = signal;
        header.rf_packet_length = static_cast<uint16_t>(rf_packet.size());
        uint8_t head[dp::kSspCmdSetRxPassthroughDataSize];
        SspCmdSetRxPassthrough_Data_ToBuff(head, &header);
        SendPayload(receiver, Concat(head, sizeof(head), rf_packet));
        last_forward_ns_ = SimMonotonicNs();
        return;
    }
    // A wireless anchor gathers what it hears into its next report.
    if (!device.transmitting || device.transmission_type != kSimTransmitAnchorReport)
        return;
    rf_packet_report_item_header_t item{};
    item.receive_time = receive_time;
    item.signal_strength = signal;
    std::vector<uint8_t> body;
    if (type == dp::kRfPacketSync && rf_packet.size() >= static_cast<size_t>(dp::kPacketSyncSize)) {
        packet_sync_t sync;
        PacketSync_FromBuff(rf_packet.data(), &sync);
        rf_packet_report_item_anchor_compact_t compact{};
        compact.sequence = sync.sequence;
        compact.network_id = sync.network_id;
        compact.received_packet_type = dp::kRfPacketSync;
        compact.transmit_time = sync.transmit_time;
        body.resize(dp::kPacketRfReportItemAnchorCompactSize);
        PacketRfReportItemAnchorCompact_ToBuff(body.data(), &compact);
        item.item_type = dp::kRfReportItemCompact;
    } else if (type == dp::kRfPacketLocationTagReport || type == dp::kRfPacketAnnounceResponse) {
        body = rf_packet;
        item.item_type = dp::kRfReportItemFull;
    } else {
        return;
    }
    item.length = static_cast<uint16_t>(dp::kPacketRfReportItemHeaderSize + body.size());
    uint8_t head[dp::kPacketRfReportItemHeaderSize];
    PacketRfReportItemHeader_ToBuff(head, &item);
    runtime.report_items.push_back(Concat(head, sizeof(head), body));
}

void DeviceSimulator::TransmitPing(size_t tag, double time_s, uint32_t network_time) {
    SimDevice& device = *devices_[tag];
    sim_device_runtime_t& runtime = *runtime_[tag];
    if (!device.transmitting || !device.addressed)
        return;
    const double since = runtime.last_ping_s < 0.0 ? 0.0 : time_s - runtime.last_ping_s;
    runtime.tag_payload.Sample(device.Config(), device.sensors,
                               runtime.last_ping_s < 0.0 ? time_s : runtime.last_ping_s, time_s,
                               runtime.last_ping_network_time, network_time, since > 1.0);
    runtime.last_ping_s = time_s;
    runtime.last_ping_network_time = network_time;
    const std::vector<uint8_t> user_data = runtime.tag_payload.NextChunk(device.user_data_size);

    packet_rtls_tag_report_t report{};
    report.type = dp::kRfPacketLocationTagReport;
    report.sequence = runtime.ping_sequence++;
    report.network_id = device.network_id;
    report.payload_length = static_cast<uint16_t>(user_data.size());
    uint8_t head[dp::kPacketRtlsTagReportSize];
    PacketRtlsTagReport_ToBuff(head, &report);
    runtime.pings_sent++;
    last_forward_ns_ = 0;
    Transmit(tag, time_s, Concat(head, sizeof(head), user_data));
    RecordTruth({time_s, device.SerialNumber(), SimDevicePosition(device.Config(), time_s), network_time,
                 report.sequence, last_forward_ns_});
}

void DeviceSimulator::TransmitAnchorReport(size_t anchor, double time_s) {
    SimDevice& device = *devices_[anchor];
    sim_device_runtime_t& runtime = *runtime_[anchor];
    // What fits the report size the server gave, in the order heard; the rest is lost.
    std::vector<uint8_t> items;
    uint8_t count = 0;
    const size_t room = device.anchor_report_payload_size > 0 ? device.anchor_report_payload_size : SIZE_MAX;
    for (const auto& item : runtime.report_items) {
        if (items.size() + item.size() > room || count == 255)
            break;
        items.insert(items.end(), item.begin(), item.end());
        ++count;
    }
    runtime.report_items.clear();
    packet_anchor_report_t report{};
    report.type = dp::kRfPacketAnchorReport;
    report.sequence = runtime.report_sequence++;
    report.network_id = device.network_id;
    report.transmit_time = device.Clock().Read(time_s);
    report.number_of_report_items = count;
    uint8_t head[dp::kPacketAnchorReportSize];
    PacketAnchorReport_ToBuff(head, &report);
    runtime.anchor_reports_sent++;
    Transmit(anchor, time_s, Concat(head, sizeof(head), items));
}

void DeviceSimulator::TransmitAnnounce(size_t index, double time_s) {
    SimDevice& device = *devices_[index];
    if (device.addressed)
        return;
    uint8_t announce[dp::kPacketAnnounceResponseSize];
    announce[0] = dp::kRfPacketAnnounceResponse;
    wire::write_be32(announce + 1, device.SerialNumber());
    runtime_[index]->announces_sent++;
    Transmit(index, time_s, std::vector<uint8_t>(announce, announce + sizeof(announce)));
}

uint32_t DeviceSimulator::SerialOfNetworkId(uint16_t network_id) const {
    for (const auto& device : devices_) {
        if (device->network_id == network_id && network_id != kSimUnassignedNetworkId)
            return device->SerialNumber();
    }
    return 0;
}

void DeviceSimulator::RecordTruth(const sim_truth_t& truth) {
    if (truth_csv_ != nullptr) {
        fprintf(truth_csv_, "%.6f,%s,%.4f,%.4f,%.4f,%u,%u\n", truth.time_s,
                SerialNumber_ToString(truth.serial_number).c_str(), truth.position.GetX(),
                truth.position.GetY(), truth.position.GetZ(), truth.network_time, truth.sequence);
        fflush(truth_csv_);
    }
    if (truth_port_) {
        vex_data_position_t position{};
        position.x = VexData_MetresToMillimetres(truth.position.GetX());
        position.y = VexData_MetresToMillimetres(truth.position.GetY());
        position.z = VexData_MetresToMillimetres(truth.position.GetZ());
        position.sequence = truth.sequence;
        position.network_time = truth.network_time;
        VexPacket packet(truth.serial_number);
        VexData_Add(packet, position);
        uint16_t size = 0;
        uint8_t* buffer = packet.CreateBufferWithSequenceNumber(truth.sequence, &size);
        if (buffer != nullptr)
            truth_port_->SendTo(ParseIpv4(site_.truth_group), site_.truth_port, buffer, size);
        delete[] buffer;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    truth_.push_back(truth);
    while (truth_.size() > kTruthBacklog)
        truth_.pop_front();
}

void DeviceSimulator::UpdateStatus(size_t index) {
    const SimDevice& device = *devices_[index];
    const sim_device_runtime_t& runtime = *runtime_[index];
    sim_device_status_t status;
    status.serial_number = device.SerialNumber();
    status.plugged = runtime.plugged;
    if (runtime.pty.IsOpen())
        status.port_name = runtime.pty.SlaveName();
    else if (runtime.udp.IsOpen())
        status.port_name = "udp://" + site_.interface_address + ":" + std::to_string(runtime.udp.LocalPort());
    status.network_id = device.network_id;
    status.addressed = device.addressed;
    status.rx_passthrough = device.rx_passthrough;
    status.tx_passthrough = device.tx_passthrough;
    status.syncing = device.syncing;
    status.sync_period = device.sync_parameters.sync_period;
    status.transmitting = device.transmitting;
    status.transmit_rate = device.transmit_rate;
    status.user_data_size = device.user_data_size;
    status.rf_channel = device.rf_settings.channel_number;
    status.led_operation = device.led_operation;
    status.commands_received = device.commands_received;
    status.syncs_sent = runtime.syncs_sent;
    status.pings_sent = runtime.pings_sent;
    status.anchor_reports_sent = runtime.anchor_reports_sent;
    status.announces_sent = runtime.announces_sent;
    status.bytes_dropped = runtime.bytes_dropped;
    status.host_address = runtime.host_address;
    status.host_port = runtime.host_port;
    std::lock_guard<std::mutex> lock(mutex_);
    status_[index] = status;
}
