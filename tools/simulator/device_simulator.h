#pragma once
// The device simulator: every device of a site, speaking to the server
// exactly as the real ones do (USB devices on pseudo-terminals, Ethernet
// devices over UDP on the loopback interface), and a radio between them that
// knows where everything truly is. The master keeps network time and sends
// syncs; anchors time-stamp what they hear with their own drifting clocks;
// tags announce, take the slot the server gives them and ping.
//
// Threads: Start() runs the whole simulation in one thread of its own (the
// simulator thread): every device, port, timer and the radio live there.
// The public methods may be called from any thread; they hand requests over
// under `mutex_` and, where they return a result, wait a bounded time for it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/geometry.h"
#include "simulator/sim_site.h"

class SimDevice;
struct sim_device_runtime_t;
class UdpPort;

// A device as seen from outside, copied under the simulator's mutex.
struct sim_device_status_t {
    uint32_t serial_number = 0;
    bool plugged = false;
    std::string port_name;  // the pseudo-terminal slave, or "udp://address:port"
    uint16_t network_id = 0xFFFF;
    bool addressed = false;
    bool rx_passthrough = false;
    bool tx_passthrough = false;
    bool syncing = false;
    uint32_t sync_period = 0;
    bool transmitting = false;
    uint32_t transmit_rate = 0;
    uint16_t user_data_size = 0;
    uint8_t rf_channel = 0;
    uint8_t led_operation = 0;
    uint32_t commands_received = 0;
    uint32_t syncs_sent = 0;
    uint32_t pings_sent = 0;
    uint32_t anchor_reports_sent = 0;
    uint32_t announces_sent = 0;
    // Bytes the device could not write to its link: the server's side did not
    // read them in time (pseudo-terminal full) or refused the datagram.
    uint64_t bytes_dropped = 0;
    // Ethernet: where the server told the device to send (0 until configured).
    uint32_t host_address = 0;
    uint16_t host_port = 0;
};

// One tag transmission with the tag's true position at that moment.
struct sim_truth_t {
    double time_s;  // true time since the simulator started
    uint32_t serial_number;
    Coordinates position;
    uint32_t network_time;
    uint8_t sequence;
    // When the last wired device (master or anchor) had written its
    // forwarding of the transmission to its link, on SimMonotonicNs(); 0 when
    // no wired device forwarded it.
    int64_t forwarded_ns;
};

// One sync of the master and when the last wired device had written its
// forwarding of it to its link (0 when none did). A wired anchor's receptions
// of tags are placed on the master's time only with the sync after them, so
// this is when the server has all it needs for the transmissions before it.
struct sim_sync_stamp_t {
    uint32_t network_time;
    int64_t forwarded_ns;
};

// CLOCK_MONOTONIC of this machine in nanoseconds: the clock of the stamps
// above, comparable across processes.
int64_t SimMonotonicNs();

// What a device took from the server over its link, or a master's sync as it
// went on the air, recorded while recording is on (tests follow the server's
// frames and what the master carried with them).
struct sim_record_t {
    enum class Kind { kFromServer, kSync };
    Kind kind;
    double time_s;  // the payload's arrival; the sync's transmission (true time since Start)
    uint32_t serial_number;
    std::vector<uint8_t> bytes;  // the SSP payload; the sync packet with its carried commands
};

class DeviceSimulator {
  public:
    explicit DeviceSimulator(const sim_site_t& site);
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Opens every device's port and starts the simulator thread. False with a
    // message when a port cannot be opened (nothing is left running then).
    bool Start(std::string* error);
    // Stops the thread and closes every port (USB devices vanish).
    void Stop();

    // Pulls a device's cable: the pseudo-terminal closes and its name goes
    // away, or the Ethernet device's socket closes. Plug() brings it back on a
    // new pseudo-terminal under the same name (or a new socket), as the same
    // device after a power cycle. Both wait for the simulator thread; false
    // when the serial number has no link or the port could not be opened.
    bool Unplug(uint32_t serial_number);
    bool Plug(uint32_t serial_number);

    const sim_site_t& Site() const { return site_; }
    // True time since Start(), seconds.
    double Now() const;
    Coordinates TruePosition(uint32_t serial_number, double time_s) const;
    sim_device_status_t GetStatus(uint32_t serial_number) const;
    // The tag transmissions since the last call (at most the latest 100000).
    std::vector<sim_truth_t> TakeTruth();
    // The master's syncs since the last call (at most the latest 100000).
    std::vector<sim_sync_stamp_t> TakeSyncStamps();
    // Recording is off until switched on; while on, every payload a device
    // takes from the server and every sync a master sends is kept (at most
    // the latest 100000).
    void SetRecording(bool on) { recording_ = on; }
    // The records since the last call, in the order the simulator handled
    // them (a sync's time is when it was due, which may be a moment before a
    // payload handled just ahead of it).
    std::vector<sim_record_t> TakeRecords();

  private:
    void Run();
    bool RequestPlug(uint32_t serial_number, bool plug);
    void RunDueEvents(int64_t now_ns);
    void Schedule(int64_t at_ns, std::function<void()> action);
    int64_t NowNs() const;
    double Seconds(int64_t ns) const { return static_cast<double>(ns) * 1e-9; }
    int64_t Nanoseconds(double seconds) const;

    // Links.
    bool OpenPort(size_t index, std::string* error);
    void ClosePort(size_t index);
    void ReadPort(size_t index);
    void HandleEthernetDatagram(size_t index, const uint8_t* data, size_t length, uint32_t from,
                                uint16_t port);
    void HandleSspPayload(size_t index, const uint8_t* payload, size_t length);
    void SendPayload(size_t index, const std::vector<uint8_t>& payload);
    void SendEthernetAnnounce(size_t index);
    void PublishAsVuv(size_t index, const std::vector<uint8_t>& payload);

    // The master and network time.
    void StartSync(size_t master, int64_t now_ns);
    void StopSync(size_t master);
    void TransmitSync(size_t master, uint32_t generation, uint32_t index);
    void PlanSyncPeriod(size_t master, uint64_t network_time);
    int64_t NetworkTimeToNs(size_t master, uint64_t network_time) const;

    // The radio.
    void Transmit(size_t sender, double time_s, const std::vector<uint8_t>& rf_packet);
    void Receive(size_t receiver, size_t sender, double time_s, const std::vector<uint8_t>& rf_packet);
    void TransmitPing(size_t tag, double time_s, uint32_t network_time);
    void TransmitAnchorReport(size_t anchor, double time_s);
    void TransmitAnnounce(size_t device, double time_s);
    uint32_t SerialOfNetworkId(uint16_t network_id) const;
    void RecordTruth(const sim_truth_t& truth);
    void Record(sim_record_t record);
    void UpdateStatus(size_t index);

    const sim_site_t site_;
    std::vector<std::unique_ptr<SimDevice>> devices_;             // simulator thread only after Start
    std::vector<std::unique_ptr<sim_device_runtime_t>> runtime_;  // simulator thread only after Start
    std::multimap<int64_t, std::function<void()>> events_;        // simulator thread only
    std::mt19937_64 noise_;                                       // simulator thread only
    std::unique_ptr<UdpPort> truth_port_;                         // simulator thread only
    FILE* truth_csv_ = nullptr;                                   // simulator thread only
    int64_t last_forward_ns_ = 0;                                 // simulator thread only
    int64_t start_ns_ = 0;                                        // set before the thread starts
    int wake_fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> recording_{false};

    // Guards requests_, status_, truth_, sync_stamps_ and records_: taken by callers of the public
    // methods and by the simulator thread, never while waiting for the other.
    mutable std::mutex mutex_;
    std::condition_variable request_done_;
    struct request_t {
        uint32_t serial_number;
        bool plug;
        bool done = false;
        bool result = false;
    };
    std::deque<std::shared_ptr<request_t>> requests_;
    std::vector<sim_device_status_t> status_;
    std::deque<sim_truth_t> truth_;
    std::deque<sim_sync_stamp_t> sync_stamps_;
    std::deque<sim_record_t> records_;
};
