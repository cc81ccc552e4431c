// The configuration loading chain (load, upgrade, validate, convert) on a large site of
// 1 master, 100 anchors and 2000 tags, written out as a file first; plus the stages on
// their own and the writer, to show where the time goes.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config_file_loader.h"
#include "config/config_read.h"
#include "config/config_file_validator.h"
#include "config/config_to_settings_converter.h"
#include "config/config_updater.h"
#include "config/settings.h"
#include "config/settings_to_config_file_writer.h"
#include "base/serial_number.h"

namespace {

constexpr int kAnchors = 100;
constexpr int kTags = 2000;

QJsonObject Node(uint32_t serial_number, double x, double y, double z) {
    return QJsonObject{{"serial number", QString::fromStdString(SerialNumber_ToString(serial_number))},
                       {"antenna delay", 16442},
                       {"enabled", true},
                       {"x", x},
                       {"y", y},
                       {"z", z}};
}

// A hall of 100 m x 50 m with the anchors on a grid at 6 m height.
QJsonObject LargeSiteVersionThree() {
    const QJsonObject socket{{"address", "239.255.76.67"}, {"port", 7667}, {"ttl", 1}, {"interface", "lo"}};
    const QJsonObject host{
        {"algorithm", "rtls_vm"},
        {"smoothing factor", 4},
        {"serial ports", QJsonArray{}},
        {"default tag bounds",
         QJsonObject{{"minx", -1}, {"maxx", 101}, {"miny", -1}, {"maxy", 51}, {"minz", 0}, {"maxz", 7}}},
        {"multicast", QJsonObject{{"external socket", socket},
                                  {"internal socket", socket},
                                  {"config socket", QJsonObject{{"interface", "lo"}}}}}};
    QJsonArray anchors;
    for (int i = 0; i < kAnchors; ++i) {
        QJsonObject anchor = Node(0x01000100u + i, (i % 10) * 10.0 + 5.0, (i / 10) * 5.0 + 2.5, 6.0);
        anchor.insert("backhaul", "uwb");
        anchors.append(anchor);
    }
    QJsonArray tags;
    for (int i = 0; i < kTags; ++i)
        tags.append(
            QJsonObject{{"serial number", QString::fromStdString(SerialNumber_ToString(0x01011000u + i))},
                        {"antenna delay", 16442},
                        {"enabled", true}});
    const QJsonObject mpu{{"send accel", true},         {"accel dlpf rate", 41}, {"accel scale", 2},
                          {"send gyro", false},         {"gyro dlpf rate", 41},  {"gyro scale", 250},
                          {"send magnetometer", false}, {"send quat", false},    {"sample rate divisor", 10},
                          {"subsample rate divisor", 1}};
    const QJsonObject network{
        {"rf settings", QJsonArray{QJsonObject{{"channel", 5},
                                               {"prf", 64},
                                               {"preamble length", 128},
                                               {"preamble code", 9},
                                               {"bit rate", "6.8 Mbps"},
                                               {"tx power", "ff0808ff"}}}},
        {"scheduler options", QJsonObject{{"tag rate", 1}}},
        {"masters", QJsonArray{Node(0x01000001u, 50.0, 0.0, 3.0)}},
        {"anchors", anchors},
        {"tags", tags},
        {"tag payload",
         QJsonObject{{"headroom", 0},
                     {"mpu", mpu},
                     {"barometer", QJsonObject{{"send pressure", true}, {"send temperature", false}}}}}};
    return QJsonObject{{"vsn", 3}, {"host", host}, {"network", network}};
}

// The same devices in the flat version-1 layout.
QJsonObject LargeSiteVersionOne() {
    const QJsonObject site = LargeSiteVersionThree();
    const QJsonObject network = site["network"].toObject();
    auto flat = [](const QJsonArray& nodes) {
        QJsonArray devices;
        for (const QJsonValue& node : nodes) {
            QJsonObject device = node.toObject();
            device.insert("serial", device.take("serial number"));
            device.remove("antenna delay");
            device.remove("enabled");
            device.remove("backhaul");
            devices.append(device);
        }
        return devices;
    };
    return QJsonObject{{"twr_adjustment", 0.1},
                       {"clocks", flat(network["masters"].toArray())},
                       {"anchors", flat(network["anchors"].toArray())},
                       {"tags", flat(network["tags"].toArray())},
                       {"x_max", 101},
                       {"x_min", -1},
                       {"y_max", 51},
                       {"y_min", -1},
                       {"z_max", 7},
                       {"z_min", 0}};
}

class SiteFiles {
  public:
    SiteFiles() {
        if (!directory_.isValid())
            std::abort();
        Write("site_v3.cfg", LargeSiteVersionThree());
        Write("site_v1.cfg", LargeSiteVersionOne());
    }
    std::string Path(const char* name) const { return directory_.filePath(name).toStdString(); }

  private:
    void Write(const char* name, const QJsonObject& config) {
        QFile file(directory_.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(config).toJson()) <= 0)
            std::abort();
    }
    QTemporaryDir directory_;
};

const SiteFiles& Files() {
    static const SiteFiles files;
    return files;
}

void LoadChain(benchmark::State& state, const char* name) {
    const std::string path = Files().Path(name);
    ConfigFileLoader loader("/nonexistent/vorav/server_uid");
    Settings settings;
    for (auto _ : state) {
        if (!ReadConfig(&loader, path, &settings)) {
            state.SkipWithError("the generated site does not load");
            break;
        }
        benchmark::DoNotOptimize(settings.GetRfNetworkSettingsReference());
    }
    if (settings.GetRfNetworkSettingsReference()->GetTags().size() != static_cast<size_t>(kTags))
        state.SkipWithError("tags lost on the way");
    state.counters["files_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_LoadChainVersion3(benchmark::State& state) {
    LoadChain(state, "site_v3.cfg");
}
BENCHMARK(BM_LoadChainVersion3)->Unit(benchmark::kMillisecond);

void BM_LoadChainVersion1(benchmark::State& state) {
    LoadChain(state, "site_v1.cfg");
}
BENCHMARK(BM_LoadChainVersion1)->Unit(benchmark::kMillisecond);

void BM_LoadOnly(benchmark::State& state) {
    const std::string path = Files().Path("site_v3.cfg");
    ConfigFileLoader loader("/nonexistent/vorav/server_uid");
    for (auto _ : state) {
        bool ok = false;
        benchmark::DoNotOptimize(loader.LoadJsonConfigFromFile(path, &ok));
    }
}
BENCHMARK(BM_LoadOnly)->Unit(benchmark::kMillisecond);

void BM_UpgradeVersion1(benchmark::State& state) {
    const QJsonObject config = LargeSiteVersionOne();
    for (auto _ : state)
        benchmark::DoNotOptimize(ConfigUpdater::UpdateConfigurationToMostRecent(config));
}
BENCHMARK(BM_UpgradeVersion1)->Unit(benchmark::kMillisecond);

void BM_Validate(benchmark::State& state) {
    const QJsonObject config = LargeSiteVersionThree();
    for (auto _ : state)
        benchmark::DoNotOptimize(ConfigFileValidator::IsConfigFileValid(config, false));
}
BENCHMARK(BM_Validate)->Unit(benchmark::kMillisecond);

void BM_Convert(benchmark::State& state) {
    const QJsonObject config = LargeSiteVersionThree();
    Settings settings;
    for (auto _ : state)
        benchmark::DoNotOptimize(ConfigToSettingsConverter::ConvertConfigToSettings(&settings, config));
}
BENCHMARK(BM_Convert)->Unit(benchmark::kMillisecond);

void BM_WriteFile(benchmark::State& state) {
    const QJsonObject config = LargeSiteVersionThree();
    Settings settings;
    ConfigToSettingsConverter::ConvertConfigToSettings(&settings, config);
    const std::string path = Files().Path("written.cfg");
    for (auto _ : state) {
        if (!SettingsToConfigFileWriter().WriteSettingsToJsonFile(&settings, path)) {
            state.SkipWithError("cannot write");
            break;
        }
    }
}
BENCHMARK(BM_WriteFile)->Unit(benchmark::kMillisecond);

}  // namespace
