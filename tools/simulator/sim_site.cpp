#include "simulator/sim_site.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "base/serial_number.h"
#include "config/config_file_loader.h"
#include "config/config_read.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "config/settings_to_config_file_writer.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

Coordinates ReadPoint(const QJsonValue& value, const Coordinates& fallback) {
    const QJsonArray array = value.toArray();
    if (array.size() != 3)
        return fallback;
    return Coordinates(array[0].toDouble(), array[1].toDouble(), array[2].toDouble());
}

// Preamble symbols of the configuration's preamble length code (DW1000 codes).
uint16_t PreambleSymbols(uint8_t code) {
    static const uint16_t kSymbols[] = {64, 128, 256, 512, 1024, 4096, 2048};
    return code < 7 ? kSymbols[code] : 4096;
}

bool ReadJsonObject(const std::string& path, QJsonObject* object, std::string* error) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "cannot read " + path;
        return false;
    }
    QJsonParseError parse_error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse_error);
    if (!document.isObject()) {
        *error = path + ": not a JSON object (" + parse_error.errorString().toStdString() + ")";
        return false;
    }
    *object = document.object();
    return true;
}

// The device entries of a site file: one object per serial number.
bool ApplyDeviceEntry(const QJsonObject& entry, sim_device_t* device, std::string* error) {
    const QString link = entry.value("link").toString("none");
    if (link == "usb") {
        device->link = SimLinkKind::kUsb;
        device->usb_path = entry.value("path").toString().toStdString();
        if (device->usb_path.empty()) {
            *error = SerialNumber_ToString(device->serial_number) + ": a USB link needs a \"path\"";
            return false;
        }
    } else if (link == "ethernet") {
        device->link = SimLinkKind::kEthernet;
        device->ethernet_port = static_cast<uint16_t>(entry.value("port").toInt(0));
    } else if (link == "none") {
        device->link = SimLinkKind::kNone;
    } else {
        *error = SerialNumber_ToString(device->serial_number) + ": unknown link " + link.toStdString();
        return false;
    }
    if (device->role == SimRole::kTag && device->link != SimLinkKind::kNone) {
        *error = SerialNumber_ToString(device->serial_number) + ": tags talk over the air only";
        return false;
    }
    device->position = ReadPoint(entry.value("position"), device->position);
    if (entry.contains("clock offset ticks"))
        device->clock_offset_ticks = entry.value("clock offset ticks").toDouble();
    if (entry.contains("clock drift ppm"))
        device->clock_drift_ppm = entry.value("clock drift ppm").toDouble();
    const QJsonObject motion = entry.value("motion").toObject();
    const QString kind = motion.value("kind").toString("static");
    device->motion.period_s = motion.value("period s").toDouble(20.0);
    if (kind == "circle") {
        device->motion.kind = SimMotionKind::kCircle;
        device->motion.centre = ReadPoint(motion.value("centre"), device->position);
        device->motion.radius = motion.value("radius").toDouble(1.0);
    } else if (kind == "line") {
        device->motion.kind = SimMotionKind::kLine;
        device->motion.end = ReadPoint(motion.value("end"), device->position);
    } else if (kind != "static") {
        *error = SerialNumber_ToString(device->serial_number) + ": unknown motion " + kind.toStdString();
        return false;
    }
    if (device->motion.period_s <= 0.0) {
        *error = SerialNumber_ToString(device->serial_number) + ": a motion needs a positive \"period s\"";
        return false;
    }
    return true;
}

}  // namespace

const sim_device_t* sim_site_t::Find(uint32_t serial_number) const {
    for (const auto& device : devices) {
        if (device.serial_number == serial_number)
            return &device;
    }
    return nullptr;
}

Coordinates SimDevicePosition(const sim_device_t& device, double t) {
    const sim_motion_t& motion = device.motion;
    switch (motion.kind) {
        case SimMotionKind::kCircle: {
            const double angle = 2.0 * kPi * t / motion.period_s;
            return Coordinates(motion.centre.GetX() + motion.radius * std::cos(angle),
                               motion.centre.GetY() + motion.radius * std::sin(angle), motion.centre.GetZ());
        }
        case SimMotionKind::kLine: {
            double phase = std::fmod(t / motion.period_s, 1.0);
            if (phase < 0.0)
                phase += 1.0;
            const double along = phase < 0.5 ? 2.0 * phase : 2.0 - 2.0 * phase;
            return device.position + (motion.end - device.position) * along;
        }
        case SimMotionKind::kStatic:
            break;
    }
    return device.position;
}

bool LoadSimSite(const std::string& site_path, const std::string& config_path, sim_site_t* site,
                 Settings* settings, std::string* error) {
    QJsonObject site_file;
    if (!site_path.empty() && !ReadJsonObject(site_path, &site_file, error))
        return false;
    std::string server_config = config_path;
    if (server_config.empty() && site_file.contains("server config")) {
        const QFileInfo site_info(QString::fromStdString(site_path));
        server_config = site_info.dir().filePath(site_file.value("server config").toString()).toStdString();
    }
    if (server_config.empty()) {
        *error = "no server configuration: give one, or name it as \"server config\" in the site file";
        return false;
    }
    // The server's own loading chain, so that the simulator sees the site exactly as the server does.
    // The server uid file is not read: a site file describes one network.
    ConfigFileLoader loader("/dev/null");
    if (!ReadConfig(&loader, server_config, settings)) {
        // The loader or the validator has printed the reason.
        *error = "cannot load " + server_config + " as a valid configuration";
        return false;
    }
    FlatSettingsInterface flat(settings);
    RfNetworkSettings* network = settings->GetRfNetworkSettingsReference();

    sim_site_t result;
    result.speed_of_light = flat.GetSpeedOfLight();
    const cmd_set_rf_settings_t rf = flat.GetRfSettings();
    result.prf_64mhz = rf.prf_flag == 1;
    result.preamble_symbols = PreambleSymbols(rf.preamble_length_code);
    for (const auto& master : network->GetMasters()) {
        sim_device_t device;
        device.serial_number = master.GetSerialNumber();
        device.role = SimRole::kMaster;
        device.enabled = master.GetEnabled();
        device.position = Coordinates(master.GetX(), master.GetY(), master.GetZ());
        result.devices.push_back(device);
    }
    for (const auto& anchor : network->GetAnchors()) {
        sim_device_t device;
        device.serial_number = anchor.GetSerialNumber();
        device.role = SimRole::kAnchor;
        device.enabled = anchor.GetEnabled();
        device.position = Coordinates(anchor.GetX(), anchor.GetY(), anchor.GetZ());
        result.devices.push_back(device);
    }
    // Tags have no configured position: they stand at the centre of the tag bounds unless the
    // site file places or moves them.
    const BoundingBox bounds = flat.GetTagBounds();
    const Coordinates centre((bounds.GetMinCoordinates().GetX() + bounds.GetMaxCoordinates().GetX()) / 2000.0,
                             (bounds.GetMinCoordinates().GetY() + bounds.GetMaxCoordinates().GetY()) / 2000.0,
                             1.0);
    for (const auto& tag : network->GetTags()) {
        sim_device_t device;
        device.serial_number = tag.GetSerialNumber();
        device.role = SimRole::kTag;
        device.enabled = tag.GetEnabled();
        device.position = centre;
        result.devices.push_back(device);
    }

    const QJsonObject noise = site_file.value("noise").toObject();
    result.tof_noise_m = noise.value("tof sigma m").toDouble(result.tof_noise_m);
    result.max_clock_drift_ppm = noise.value("max clock drift ppm").toDouble(result.max_clock_drift_ppm);
    result.seed = static_cast<uint32_t>(site_file.value("seed").toInt(static_cast<int>(result.seed)));
    const QJsonObject ethernet = site_file.value("ethernet").toObject();
    result.config_group = ethernet.value("config group").toString("239.255.76.67").toStdString();
    result.config_port = static_cast<uint16_t>(ethernet.value("config port").toInt(result.config_port));
    result.announce_period_ms = static_cast<uint32_t>(
        ethernet.value("announce period ms").toInt(static_cast<int>(result.announce_period_ms)));
    const QJsonObject truth = site_file.value("truth").toObject();
    result.truth_csv_path = truth.value("csv").toString().toStdString();
    result.truth_group = truth.value("group").toString("239.255.76.67").toStdString();
    result.truth_port = static_cast<uint16_t>(truth.value("port").toInt(0));

    const QJsonObject entries = site_file.value("devices").toObject();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const uint32_t serial = SerialNumber_Create(it.key().toStdString());
        sim_device_t* device = nullptr;
        for (auto& candidate : result.devices) {
            if (candidate.serial_number == serial)
                device = &candidate;
        }
        if (device == nullptr) {
            *error = "site file: " + it.key().toStdString() + " is not in " + server_config;
            return false;
        }
        if (!ApplyDeviceEntry(it.value().toObject(), device, error))
            return false;
    }
    *site = result;
    return true;
}

void ApplySimSiteToSettings(const sim_site_t& site, Settings* settings) {
    RfNetworkSettings* network = settings->GetRfNetworkSettingsReference();
    std::vector<MasterSettings> masters;
    std::vector<AnchorSettings> anchors;
    std::vector<TagSettings> tags;
    std::vector<std::string> serial_ports;
    // Antenna delays and other values the site does not hold are kept from the loaded settings.
    auto find = [](const auto& list, uint32_t serial) {
        for (const auto& item : list) {
            if (item.GetSerialNumber() == serial)
                return item;
        }
        typename std::decay_t<decltype(list)>::value_type fresh;
        fresh.SetAntennaDelay(16442);
        return fresh;
    };
    for (const auto& device : site.devices) {
        if (device.link == SimLinkKind::kUsb)
            serial_ports.push_back(device.usb_path);
        switch (device.role) {
            case SimRole::kMaster: {
                MasterSettings master = find(network->GetMasters(), device.serial_number);
                master.SetSerialNumber(device.serial_number);
                master.SetEnabled(device.enabled);
                master.SetX(device.position.GetX());
                master.SetY(device.position.GetY());
                master.SetZ(device.position.GetZ());
                masters.push_back(master);
                break;
            }
            case SimRole::kAnchor: {
                AnchorSettings anchor = find(network->GetAnchors(), device.serial_number);
                anchor.SetSerialNumber(device.serial_number);
                anchor.SetEnabled(device.enabled);
                anchor.SetX(device.position.GetX());
                anchor.SetY(device.position.GetY());
                anchor.SetZ(device.position.GetZ());
                anchor.SetBackhaulType(device.link == SimLinkKind::kNone ? "uwb" : "wired");
                anchors.push_back(anchor);
                break;
            }
            case SimRole::kTag: {
                TagSettings tag = find(network->GetTags(), device.serial_number);
                tag.SetSerialNumber(device.serial_number);
                tag.SetEnabled(device.enabled);
                tags.push_back(tag);
                break;
            }
        }
    }
    network->SetMasters(masters);
    network->SetAnchors(anchors);
    network->SetTags(tags);
    settings->GetHostSettingsReference()->SetSerialPorts(serial_ports);
    settings->GetHostSettingsReference()->SetSpeedOfLight(site.speed_of_light);
}

bool WriteServerConfigForSite(const sim_site_t& site, Settings* settings, const std::string& path) {
    ApplySimSiteToSettings(site, settings);
    SettingsToConfigFileWriter writer;
    return writer.WriteSettingsToJsonFile(settings, path);
}
