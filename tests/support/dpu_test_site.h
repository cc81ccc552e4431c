#pragma once
// A configured site for the location engine's tests, fuzz target and
// benchmark, set up as the host does it: the configuration converted into the
// process-wide settings, the RF budget, the scheduler with the host's fixed
// reservations and the node registry. Also a publisher that records what the
// engine publishes and a device link that records what is sent to it.

#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QThread>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/config_to_settings_converter.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/node_link.h"
#include "host/devices/node_manager.h"
#include "host/dpu/vex_publisher.h"
#include "host/scheduling/rf_scheduler.h"
#include "host/scheduling/rf_scheduler_settings.h"
#include "protocol/vex/vex_packet.h"
#include "support/spin_until.h"

namespace dpu_test_site {

constexpr uint32_t kMaster = 0x01000001;
// Anchor positions in metres: 0011 (0, 0, 2.5) UWB, 0012 (10, 0, 2.5) wired,
// 0013 (10, 8, 0.5) UWB, 0014 (0, 8, 3) UWB.
constexpr uint32_t kAnchors[] = {0x01000011, 0x01000012, 0x01000013, 0x01000014};
constexpr uint32_t kWiredAnchor = 0x01000012;
constexpr uint32_t kTag = 0x01010021;
constexpr uint32_t kSecondTag = 0x01010022;
// Configured but disabled, so the registry does not know it.
constexpr uint32_t kDisabledTag = 0x01010023;
// A node of another network, when the site has one.
constexpr uint32_t kAlien = 0x02000031;

struct options_t {
    std::string group = "239.255.76.67";
    uint16_t output_port = 7667;
    uint16_t input_port = 7667;
    bool with_alien_network = false;
    // 0012, 0013 and 0014 all wired, 0011 alone over UWB.
    bool one_uwb_anchor = false;
    bool occlusion_mitigation = false;
    double vm_gain = 0.9;
    double speed_of_light = 299792458.0;
};

inline QJsonObject Config(const options_t& options) {
    const std::string text = R"({
    "vsn": 3,
    "host": {
        "algorithm": "rtls_vm", "smoothing factor": 0, "max tag velocity": 50.0,
        "vm min stop": 0.001, "vm reject threshold": 0.5, "smooth guess": false,
        "use rdoa insanity": false, "min anchors": 4,
        "serial ports": [],
        "default tag bounds": {"maxx": 20.0, "maxy": 20.0, "maxz": 5.0, "minx": -10.0, "miny": -10.0, "minz": -1.0},
        "multicast": {
            "external socket": {"address": "GROUP", "port": OUTPUT_PORT, "ttl": 1, "interface": "lo"},
            "internal socket": {"address": "GROUP", "port": INPUT_PORT, "ttl": 1, "interface": "lo"},
            "config socket": {"address": "239.255.76.67", "port": 7670, "ttl": 1, "interface": "lo"}
        }
    },
    "network": {
        "rf settings": [{"channel": 5, "preamble code": 10, "bit rate": "6.8 Mbps", "prf": 64,
                         "preamble length": 128, "tx power": "1f1f1f1f"}],
        "scheduler options": {"tag rate": 10.0},
        "masters": [{"serial number": "01:00:0001", "antenna delay": 16450, "x": 5.0, "y": 0.0, "z": 2.0}],
        "anchors": [
            {"serial number": "01:00:0011", "antenna delay": 16440, "x": 0.0, "y": 0.0, "z": 2.5, "backhaul": "uwb"},
            {"serial number": "01:00:0012", "antenna delay": 16441, "x": 10.0, "y": 0.0, "z": 2.5, "backhaul": "wired"},
            {"serial number": "01:00:0013", "antenna delay": 16442, "x": 10.0, "y": 8.0, "z": 0.5, "backhaul": "uwb"},
            {"serial number": "01:00:0014", "antenna delay": 16443, "x": 0.0, "y": 8.0, "z": 3.0, "backhaul": "uwb"}
        ],
        "tags": [
            {"serial number": "01:01:0021", "antenna delay": 16442},
            {"serial number": "01:01:0022", "antenna delay": 16442},
            {"serial number": "01:01:0023", "antenna delay": 16442, "enabled": false}
        ],
        "tag payload": {"headroom": 20,
                        "mpu": {"send accel": false, "send gyro": false, "send magnetometer": false, "send quat": false},
                        "barometer": {"send pressure": false, "send temperature": false}},
        "min pkt duration": 300, "sync padding": 220, "tag-anchr padding": 230,
        "anchr payload time mult": 2.5, "tag payload time mult": 2.0
    }
})";
    auto replace = [](std::string text, const std::string& what, const std::string& with) {
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
            text.replace(at, what.size(), with);
        }
        return text;
    };
    std::string filled = replace(text, "GROUP", options.group);
    filled = replace(filled, "OUTPUT_PORT", std::to_string(options.output_port));
    filled = replace(filled, "INPUT_PORT", std::to_string(options.input_port));
    QJsonObject config = QJsonDocument::fromJson(QByteArray::fromStdString(filled)).object();
    if (options.one_uwb_anchor) {
        QJsonObject network = config["network"].toObject();
        QJsonArray anchors = network["anchors"].toArray();
        for (int i = 1; i < anchors.size(); ++i) {
            QJsonObject anchor = anchors[i].toObject();
            anchor["backhaul"] = "wired";
            anchors[i] = anchor;
        }
        network["anchors"] = anchors;
        config["network"] = network;
    }
    if (options.with_alien_network) {
        config.insert("known networks",
                      QJsonDocument::fromJson(
                          R"([{"server uid": "09:09:0009", "nodes": [{"serial number": "02:00:0031"}],
                                                   "rf settings": [{"channel": 2, "preamble code": 4, "prf": 16}]}])")
                          .array());
    }
    return config;
}

struct site_t {
    std::shared_ptr<NodeManager> node_manager;
    std::shared_ptr<RfScheduler> scheduler;
    RfSchedulerSettings budget;
};

// Replaces the process-wide settings by the site's and builds what the host
// builds at a start, with its fixed reservations.
inline site_t Install(const options_t& options = options_t()) {
    Settings fresh;
    Settings::GlobalSettings()->CopyFromOtherSettings(&fresh);
    ConfigToSettingsConverter::ConvertConfigToSettings(Settings::GlobalSettings(), Config(options));
    HostSettings* host = Settings::GlobalSettings()->GetHostSettingsReference();
    host->SetUseOcclusionMitigation(options.occlusion_mitigation);
    host->SetVmVectorGain(options.vm_gain);
    host->SetSpeedOfLight(options.speed_of_light);

    site_t site;
    site.budget = RfSchedulerSettings(Settings::GlobalSettings());
    site.scheduler = std::make_shared<RfScheduler>(20.0);
    const uint32_t cycle = site.budget.GetLocationCycle();
    site.scheduler->UpdateSyncPeriod(cycle);
    site.node_manager = std::make_shared<NodeManager>();
    site.node_manager->Init(Settings::GlobalSettings(), static_cast<uint32_t>(cycle * 0.0010256));
    site.scheduler->RequestTimeSlot(kMaster, site.budget.GetSlottime(RfSchedulerSettings::kSlotSync), cycle);
    site.scheduler->RequestTimeSlot(RfScheduler::kAnnouncementOwner,
                                    site.budget.GetSlottime(RfSchedulerSettings::kSlotAnnouncement), cycle);
    const std::vector<AnchorSettings> anchors =
        FlatSettingsInterface(Settings::GlobalSettings()).GetAnchorList();
    for (auto anchor = anchors.rbegin(); anchor != anchors.rend(); ++anchor) {
        if (anchor->GetEnabled() && anchor->IsWireless()) {
            site.scheduler->RequestTimeSlot_FromEnd(
                anchor->GetSerialNumber(), site.budget.GetSlottime(RfSchedulerSettings::kSlotAnchorReport),
                cycle);
        }
    }
    const uint32_t remainder = site.budget.GetSlottime(RfSchedulerSettings::kSlotRemainder);
    if (remainder != 0) {
        site.scheduler->RequestTimeSlot(RfScheduler::kRemainderOwner, remainder, cycle);
    }
    return site;
}

// Keeps every packet the engine publishes, per stream, in order.
class RecordingPublisher : public VexPublisher {
  public:
    void PublishOutputVex(VexPacket& packet) override {
        std::lock_guard<std::mutex> lock(mutex_);
        output_.push_back(packet);
    }
    void PublishInputVex(VexPacket& packet) override {
        std::lock_guard<std::mutex> lock(mutex_);
        input_.push_back(packet);
    }
    std::vector<VexPacket> Output() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return output_;
    }
    std::vector<VexPacket> Input() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return input_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        output_.clear();
        input_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<VexPacket> output_;
    std::vector<VexPacket> input_;
};

// A device link that never opens a port: it records every payload sent to it,
// in the sending thread, with the time it was sent. An optional reply hook
// sees each payload as it is recorded (a fake master acknowledging stops).
class RecordingLink : public NodeLink {
  public:
    struct frame_t {
        std::vector<uint8_t> bytes;
        std::chrono::steady_clock::time_point when;
    };

    explicit RecordingLink(uint32_t serial, std::string port = "test-port") : port_(std::move(port)) {
        SetSerialNumber(serial);
        // Context: a plain object of the test, so that the link's Shutdown,
        // which drops the link's connections to itself, keeps the recording.
        QObject::connect(
            this, &NodeLink::DataToPublish, &context_, [this](QByteArray data) { Record(data); },
            Qt::DirectConnection);
    }

    std::string GetPortName() const override { return port_; }
    bool WaitForBytesWritten(int) override { return true; }
    bool WaitForReadyRead(int) override { return false; }
    void PublishData(QByteArray) override {}

    void SetReply(std::function<void(const std::vector<uint8_t>&)> reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = std::move(reply);
    }
    std::vector<frame_t> Frames() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.clear();
    }

  private:
    void Record(const QByteArray& data) {
        std::function<void(const std::vector<uint8_t>&)> reply;
        std::vector<uint8_t> bytes(data.begin(), data.end());
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frames_.push_back(frame_t{bytes, std::chrono::steady_clock::now()});
            reply = reply_;
        }
        if (reply) {
            reply(bytes);
        }
    }

    std::string port_;
    QObject context_;
    mutable std::mutex mutex_;
    std::vector<frame_t> frames_;
    std::function<void(const std::vector<uint8_t>&)> reply_;
};

// The payloads of recorded frames, without their times.
inline std::vector<std::vector<uint8_t>> BytesOf(const std::vector<RecordingLink::frame_t>& frames) {
    std::vector<std::vector<uint8_t>> bytes;
    for (const auto& frame : frames) {
        bytes.push_back(frame.bytes);
    }
    return bytes;
}

// Sends standard output to /dev/null while it exists (fuzzing and
// benchmarks, where nothing reads what the engine prints).
struct SilencedStdout {
    SilencedStdout() : saved(dup(STDOUT_FILENO)) {
        std::fflush(stdout);
        const int sink = open("/dev/null", O_WRONLY);
        if (saved < 0 || sink < 0 || dup2(sink, STDOUT_FILENO) < 0) {
            std::abort();
        }
        close(sink);
    }
    ~SilencedStdout() {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
    SilencedStdout(const SilencedStdout&) = delete;
    SilencedStdout& operator=(const SilencedStdout&) = delete;
    const int saved;
};

using test_support::SpinUntil;

}  // namespace dpu_test_site
