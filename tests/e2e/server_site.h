#pragma once
// A simulated site for the tests that run vorav-server and the device
// simulator as processes: the server's configuration (default.cfg with the
// test's streams, devices and tag bounds, passed through the simulator's
// configuration writer) and the simulator's site file in a temporary folder;
// and a client of the External stream that judges the published positions
// against the simulator's truth stream.
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/serial_number.h"
#include "base/thread_annotations.h"
#include "position_report/position_report.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"
#include "support/child_process.h"
#include "support/loopback_streams.h"

#ifdef VORAV_THREAD_SANITIZER
// The test mains' suppressions of Qt's internals (support/sanitizer_options.h).
extern "C" const char* __tsan_default_suppressions();
#endif

namespace e2e {

const std::string kServer = VORAV_SERVER_PATH;
const std::string kSimulator = VORAV_SIMULATOR_PATH;

enum class Link { kUsb, kEthernet, kAir };

struct device_t {
    uint32_t serial_number;
    Link link;
    double x, y, z;
};

struct tag_t {
    uint32_t serial_number;
    double x, y, z;
    // Circles (radius 1.5 m, 30 s a turn) around (5, 4) at its height instead
    // of standing.
    bool moving;
};

struct site_t {
    // Internal and External streams share this port; the truth has the next.
    uint16_t stream_port;
    device_t master;
    std::vector<device_t> anchors;
    std::vector<tag_t> tags;
    double timestamp_noise_m = 0.02;
    // "default tag bounds" minz and maxz in metres; both equal fix the
    // height. Empty: default.cfg's.
    std::vector<double> tag_height_bounds;
    // "vm min stop" in metres (a solve stops once a step moves less); 0
    // leaves the default.
    double vm_min_stop_m = 0.0;
};

// The configuration stream's group and port are fixed, so the servers of test
// runs at the same time hear each other's Ethernet announces: an Ethernet
// anchor's serial number is this process's own, and a server ignores a device
// it is not configured for.
inline uint32_t ProcessEthernetSerial() {
    return 0x0100E000u | (static_cast<uint32_t>(getpid()) & 0x0FFFu);
}

inline QString Sn(uint32_t serial) {
    return QString::fromStdString(SerialNumber_ToString(serial));
}

inline QJsonArray Point(double x, double y, double z) {
    return QJsonArray{x, y, z};
}

inline QByteArray ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// The texts a sanitizer report starts with; children inherit the sanitizer
// options of the test's environment.
inline bool HasSanitizerReport(const std::string& output) {
    for (const char* text : {"AddressSanitizer", "LeakSanitizer", "ThreadSanitizer", "runtime error:"}) {
        if (output.find(text) != std::string::npos)
            return true;
    }
    return false;
}

class SiteFiles {
  public:
    // Writes both files; false with the reason in *error.
    bool Write(const site_t& site, std::string* error) {
        if (!directory_.isValid()) {
            *error = "no temporary folder";
            return false;
        }
        site_ = site;
        master_port_ = directory_.filePath("master").toStdString();
#ifdef VORAV_THREAD_SANITIZER
        suppressions_path_ = directory_.filePath("tsan.supp").toStdString();
        if (!WriteFile(QString::fromStdString(suppressions_path_), __tsan_default_suppressions())) {
            *error = "cannot write the sanitizer suppressions";
            return false;
        }
#endif
        if (!WriteBaseConfig() || !WriteSite()) {
            *error = "cannot write the site files";
            return false;
        }
        // The server's configuration as the simulator's writer makes it for
        // the site: the linked anchors "wired", the USB paths serial ports.
        config_path_ = directory_.filePath("server.cfg").toStdString();
        ChildProcess writer(kSimulator, {"--site", site_path_, "--write-config", config_path_},
                            ChildOptions());
        if (writer.Finish() != 0) {
            *error = writer.Output();
            return false;
        }
        // The writer leaves the solver's parameters out (they read back as
        // their defaults): the site's own go into its host section.
        if (site_.vm_min_stop_m > 0.0) {
            QJsonObject config = QJsonDocument::fromJson(ReadFile(config_path_)).object();
            QJsonObject host = config["host"].toObject();
            host["vm min stop"] = site_.vm_min_stop_m;
            config["host"] = host;
            if (!WriteFile(QString::fromStdString(config_path_), QJsonDocument(config).toJson())) {
                *error = "cannot write the server configuration";
                return false;
            }
        }
        config_text_ = ReadFile(config_path_);
        return !config_text_.isEmpty();
    }

    // The simulator, running once its master's pseudo-terminal exists; null
    // (with the reason in *error) when it did not come up.
    std::unique_ptr<ChildProcess> StartSimulator(std::string* error) const {
        auto simulator = std::make_unique<ChildProcess>(
            kSimulator, std::vector<std::string>{"--site", site_path_, "--config", config_path_},
            ChildOptions());
        if (!simulator->WaitForOutput("vorav-device-sim: running") ||
            access(master_port_.c_str(), F_OK) != 0) {
            *error = simulator->Output();
            return nullptr;
        }
        return simulator;
    }

    // How the server and the simulator run: their stderr (where the
    // sanitizers report) read with their stdout; under ThreadSanitizer with
    // the suppressions of Qt's internals that the test mains carry and the
    // programs' own mains do not.
    ChildProcess::Options ChildOptions() const {
        ChildProcess::Options options;
        options.merge_stderr = true;
#ifdef VORAV_THREAD_SANITIZER
        const char* inherited = std::getenv("TSAN_OPTIONS");
        options.environment_changes.push_back(
            std::string("TSAN_OPTIONS=") + (inherited ? inherited : "") +
            ":ignore_noninstrumented_modules=1:suppressions=" + suppressions_path_);
#endif
        return options;
    }

    const std::string& ConfigPath() const {
        return config_path_;
    }
    // The server's configuration as written, before any run.
    const QByteArray& ConfigText() const {
        return config_text_;
    }

  private:
    static QJsonObject Tag(uint32_t serial) {
        return QJsonObject{{"serial number", Sn(serial)}, {"antenna delay", 16442}, {"enabled", true}};
    }

    static QJsonObject Node(const device_t& device) {
        QJsonObject node = Tag(device.serial_number);
        node["x"] = device.x;
        node["y"] = device.y;
        node["z"] = device.z;
        return node;
    }

    // default.cfg with this site's streams, devices and tag bounds.
    bool WriteBaseConfig() {
        QJsonObject config = QJsonDocument::fromJson(ReadFile(VORAV_SOURCE_DIR "/default.cfg")).object();
        QJsonObject host = config["host"].toObject();
        QJsonObject multicast = host["multicast"].toObject();
        for (const char* stream : {"external socket", "internal socket"}) {
            QJsonObject socket = multicast[stream].toObject();
            socket["address"] = ProcessMulticastGroup();
            socket["port"] = site_.stream_port;
            multicast[stream] = socket;
        }
        host["multicast"] = multicast;
        if (site_.tag_height_bounds.size() == 2) {
            QJsonObject bounds = host["default tag bounds"].toObject();
            bounds["minz"] = site_.tag_height_bounds[0];
            bounds["maxz"] = site_.tag_height_bounds[1];
            host["default tag bounds"] = bounds;
        }
        config["host"] = host;
        QJsonObject network = config["network"].toObject();
        network["masters"] = QJsonArray{Node(site_.master)};
        QJsonArray anchors;
        for (const device_t& anchor : site_.anchors)
            anchors.append(Node(anchor));
        network["anchors"] = anchors;
        QJsonArray tags;
        for (const tag_t& tag : site_.tags)
            tags.append(Tag(tag.serial_number));
        network["tags"] = tags;
        config["network"] = network;
        return WriteFile(directory_.filePath("base.cfg"), QJsonDocument(config).toJson());
    }

    QJsonObject LinkOf(const device_t& device, int* usb_count) const {
        switch (device.link) {
            case Link::kUsb: {
                const QString path = device.serial_number == site_.master.serial_number
                                         ? QString::fromStdString(master_port_)
                                         : directory_.filePath(QString("anchor-%1").arg(++*usb_count));
                return QJsonObject{{"link", "usb"}, {"path", path}};
            }
            case Link::kEthernet:
                return QJsonObject{{"link", "ethernet"}};
            case Link::kAir:
                break;
        }
        return QJsonObject{{"link", "none"}};
    }

    bool WriteSite() {
        int usb_count = 0;
        QJsonObject devices{{Sn(site_.master.serial_number), LinkOf(site_.master, &usb_count)}};
        for (const device_t& anchor : site_.anchors)
            devices[Sn(anchor.serial_number)] = LinkOf(anchor, &usb_count);
        for (const tag_t& tag : site_.tags) {
            QJsonObject entry{{"position", Point(tag.x, tag.y, tag.z)}};
            if (tag.moving)
                entry["motion"] = QJsonObject{{"kind", "circle"},
                                              {"centre", Point(5.0, 4.0, tag.z)},
                                              {"radius", 1.5},
                                              {"period s", 30}};
            devices[Sn(tag.serial_number)] = entry;
        }
        const QJsonObject site{
            {"server config", "base.cfg"},
            {"seed", 7},
            {"noise", QJsonObject{{"tof sigma m", site_.timestamp_noise_m}, {"max clock drift ppm", 5}}},
            {"truth", QJsonObject{{"group", ProcessMulticastGroup()}, {"port", site_.stream_port + 1}}},
            {"devices", devices}};
        site_path_ = directory_.filePath("site.json").toStdString();
        return WriteFile(QString::fromStdString(site_path_), QJsonDocument(site).toJson());
    }

    QTemporaryDir directory_;
    site_t site_;
    std::string master_port_;
    std::string suppressions_path_;
    std::string site_path_;
    std::string config_path_;
    QByteArray config_text_;
};

// What a client of the External stream sees, judged against the truth stream.
class Listener {
  public:
    Listener(uint16_t stream_port, size_t skip)
        : report_(skip),
          external_(LoopbackStream(stream_port)),
          truth_(LoopbackStream(static_cast<uint16_t>(stream_port + 1))) {
        external_.Subscribe(VexType::kPosition, [this](uint32_t serial, uint32_t, const VexDataItem& item) {
            vex_data_position_t position;
            if (item.GetDataSize() >= sizeof(position)) {
                std::memcpy(&position, item.GetData(), sizeof(position));
                report_.AddPosition(serial, position);
            }
        });
        external_.Subscribe(VexType::kToaAnchor, [this](uint32_t, uint32_t, const VexDataItem& item) {
            vex_data_toa_anchor_t anchor;
            if (item.GetDataSize() >= sizeof(anchor)) {
                std::memcpy(&anchor, item.GetData(), sizeof(anchor));
                std::lock_guard<std::mutex> lock(mutex_);
                solving_anchors_.insert(anchor.anchor_serial_number);
            }
        });
        truth_.Subscribe(VexType::kPosition, [this](uint32_t serial, uint32_t, const VexDataItem& item) {
            vex_data_position_t truth;
            if (item.GetDataSize() >= sizeof(truth)) {
                std::memcpy(&truth, item.GetData(), sizeof(truth));
                report_.AddTruth(serial, truth);
            }
        });
    }

    ~Listener() {
        external_.ClearSubscriptions();
        truth_.ClearSubscriptions();
    }

    std::map<uint32_t, position_error_summary_t> Summaries() const {
        std::map<uint32_t, position_error_summary_t> by_tag;
        for (const position_error_summary_t& summary : report_.Summaries())
            by_tag[summary.serial_number] = summary;
        return by_tag;
    }

    // Polls (bounded) until every tag of the site has this many judged
    // positions.
    bool WaitForJudged(const site_t& site, size_t count, std::chrono::seconds bound) const {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto summaries = Summaries();
            bool all = true;
            for (const tag_t& tag : site.tags) {
                const auto found = summaries.find(tag.serial_number);
                all = all && found != summaries.end() && found->second.matched >= count;
            }
            if (all)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // The anchors that took part in the solves (the diagnostics items).
    std::set<uint32_t> SolvingAnchors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return solving_anchors_;
    }

  private:
    PositionReport report_;
    std::mutex mutex_;
    std::set<uint32_t> solving_anchors_;
    VexConnection external_;
    VexConnection truth_;
};

inline void PrintSummary(const position_error_summary_t& summary) {
    printf(
        "%s: %zu positions, %zu judged: horizontal median %.1f mm RMS %.1f mm, 3-D median %.1f mm RMS "
        "%.1f mm, mean error %.1f/%.1f/%.1f mm\n",
        SerialNumber_ToString(summary.serial_number).c_str(), summary.positions, summary.matched,
        summary.horizontal_median_mm, summary.horizontal_rms_mm, summary.spatial_median_mm,
        summary.spatial_rms_mm, summary.bias_x_mm, summary.bias_y_mm, summary.bias_z_mm);
    fflush(stdout);
}

}  // namespace e2e
