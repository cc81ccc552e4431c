#include "capacity/capacity_site.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <random>

#include "base/serial_number.h"
#include "config/settings.h"
#include "simulator/sim_site.h"

namespace {

// The hall: anchors on its walls and across its ceiling, tags inside it.
constexpr double kHallX = 40.0;
constexpr double kHallY = 30.0;
constexpr double kMargin = 1.5;  // tags keep this far from the walls (metres)
constexpr double kPi = 3.14159265358979323846;

constexpr uint32_t kInfrastructureBase = 0x0CA00000;
constexpr uint32_t kTagBase = 0x0CA10000;

QJsonArray Point(double x, double y, double z) {
    return QJsonArray{x, y, z};
}

QJsonObject Socket(const QString& address, int port) {
    return QJsonObject{{"address", address}, {"interface", "lo"}, {"port", port}, {"ttl", 1}};
}

QString Serial(uint32_t serial) {
    return QString::fromStdString(SerialNumber_ToString(serial));
}

bool WriteJson(const QJsonObject& object, const QString& path, std::string* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) < 0) {
        *error = "cannot write " + path.toStdString();
        return false;
    }
    return true;
}

// Anchors on a grid over the hall, at three heights so that the tags'
// height is determined too.
void AnchorPosition(int index, int count, double* x, double* y, double* z) {
    const int columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count)))));
    const int rows = (count + columns - 1) / columns;
    const int column = index % columns;
    const int row = index / columns;
    *x = columns > 1 ? kHallX * column / (columns - 1) : kHallX / 2;
    *y = rows > 1 ? kHallY * row / (rows - 1) : kHallY / 2;
    *z = 2.5 + 1.5 * ((column + 2 * row) % 3);
}

}  // namespace

uint32_t CapacityMasterSerial() {
    return kInfrastructureBase | 0x0001;
}

uint32_t CapacityAnchorSerial(int index) {
    return kInfrastructureBase | static_cast<uint32_t>(0x0100 + index);
}

uint32_t CapacityTagSerial(int index) {
    return kTagBase | static_cast<uint32_t>(0x0001 + index);
}

bool WriteCapacitySite(const capacity_site_options_t& options, const std::string& directory,
                       std::string* error) {
    if (options.tags < 1 || options.tags > 0xFFFE || options.anchors < 4 || options.anchors > 0xFE ||
        options.usb_anchors < 0 || options.usb_anchors > options.anchors || options.tty_dir.empty()) {
        *error =
            "the site needs 1 or more tags, 4 or more anchors, at most as many USB anchors as "
            "anchors, and a folder for the pseudo-terminals";
        return false;
    }
    const QDir dir(QString::fromStdString(directory));
    const QDir ttys(QString::fromStdString(options.tty_dir));
    std::mt19937 random(options.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto between = [&](double low, double high) { return low + (high - low) * unit(random); };

    QJsonArray serial_ports;
    QJsonObject site_devices;
    const QString master_path = ttys.filePath("master");
    serial_ports.append(master_path);
    site_devices.insert(Serial(CapacityMasterSerial()), QJsonObject{{"link", "usb"}, {"path", master_path}});
    const QJsonArray masters{QJsonObject{{"antenna delay", 16442},
                                         {"enabled", true},
                                         {"serial number", Serial(CapacityMasterSerial())},
                                         {"x", kHallX / 2},
                                         {"y", kHallY / 2},
                                         {"z", 6.5}}};

    QJsonArray anchors;
    for (int i = 0; i < options.anchors; ++i) {
        double x, y, z;
        AnchorPosition(i, options.anchors, &x, &y, &z);
        const uint32_t serial = CapacityAnchorSerial(i);
        anchors.append(QJsonObject{{"antenna delay", 16442},
                                   {"backhaul", "wired"},
                                   {"enabled", true},
                                   {"serial number", Serial(serial)},
                                   {"x", x},
                                   {"y", y},
                                   {"z", z}});
        if (i < options.usb_anchors) {
            const QString path = ttys.filePath(QString("anchor-%1").arg(i));
            serial_ports.append(path);
            site_devices.insert(Serial(serial), QJsonObject{{"link", "usb"}, {"path", path}});
        } else {
            site_devices.insert(Serial(serial), QJsonObject{{"link", "ethernet"}});
        }
    }

    QJsonArray tags;
    for (int i = 0; i < options.tags; ++i) {
        const uint32_t serial = CapacityTagSerial(i);
        tags.append(
            QJsonObject{{"antenna delay", 16442}, {"enabled", true}, {"serial number", Serial(serial)}});
        const double height = between(0.5, 2.0);
        QJsonObject entry;
        QJsonObject motion;
        if (options.static_every > 0 && i % options.static_every == 0) {
            entry.insert("position", Point(between(kMargin, kHallX - kMargin),
                                           between(kMargin, kHallY - kMargin), height));
        } else if (i % 2 == 0) {
            // Walking round a circle at about 0.3 to 2 m/s.
            const double radius = between(1.0, 5.0);
            const double cx = between(kMargin + radius, kHallX - kMargin - radius);
            const double cy = between(kMargin + radius, kHallY - kMargin - radius);
            const double speed = between(0.3, 2.0);
            entry.insert("position", Point(cx + radius, cy, height));
            motion = QJsonObject{{"kind", "circle"},
                                 {"centre", Point(cx, cy, height)},
                                 {"radius", radius},
                                 {"period s", 2.0 * kPi * radius / speed}};
        } else {
            // Back and forth along a line, at up to 2 m/s, climbing a little.
            const double x0 = between(kMargin, kHallX - kMargin);
            const double y0 = between(kMargin, kHallY - kMargin);
            const double x1 = between(kMargin, kHallX - kMargin);
            const double y1 = between(kMargin, kHallY - kMargin);
            const double z1 = std::min(2.5, height + between(0.0, 0.5));
            const double length = std::hypot(x1 - x0, y1 - y0);
            const double speed = between(0.3, 2.0);
            entry.insert("position", Point(x0, y0, height));
            motion = QJsonObject{{"kind", "line"},
                                 {"end", Point(x1, y1, z1)},
                                 {"period s", std::max(2.0, 2.0 * length / speed)}};
        }
        if (!motion.isEmpty())
            entry.insert("motion", motion);
        site_devices.insert(Serial(serial), entry);
    }

    const QJsonObject multicast{
        {"config socket", QJsonObject{{"interface", "lo"}}},
        {"external socket", Socket(QString::fromStdString(options.external_group), options.external_port)},
        {"internal socket", Socket("127.0.0.1", options.internal_port)}};
    const QJsonObject host{{"algorithm", "rtls_vm"},
                           {"default tag bounds", QJsonObject{{"maxx", kHallX + 1},
                                                              {"maxy", kHallY + 1},
                                                              {"maxz", 8},
                                                              {"minx", -1},
                                                              {"miny", -1},
                                                              {"minz", 0}}},
                           {"multicast", multicast},
                           {"serial ports", serial_ports},
                           {"smoothing factor", 4}};
    // No sensor payload: the budget then carries the most tags (265 at 10 Hz).
    const QJsonObject payload{
        {"barometer", QJsonObject{{"send pressure", false}, {"send temperature", false}}},
        {"headroom", 0},
        {"mpu", QJsonObject{{"accel dlpf rate", 41},
                            {"accel scale", 2},
                            {"gyro dlpf rate", 41},
                            {"gyro scale", 250},
                            {"sample rate divisor", 10},
                            {"send accel", false},
                            {"send gyro", false},
                            {"send magnetometer", false},
                            {"send quat", false},
                            {"subsample rate divisor", 1}}}};
    const QJsonObject network{{"anchors", anchors},
                              {"masters", masters},
                              {"rf settings", QJsonArray{QJsonObject{{"bit rate", "6.8 Mbps"},
                                                                     {"channel", 5},
                                                                     {"preamble code", 9},
                                                                     {"preamble length", 128},
                                                                     {"prf", 64},
                                                                     {"tx power", "ff0808ff"}}}},
                              {"scheduler options", QJsonObject{{"tag rate", options.tag_rate_hz}}},
                              {"tag payload", payload},
                              {"tags", tags}};
    const QString config_path = dir.filePath("server.cfg");
    const QString site_path = dir.filePath("site.json");
    if (!WriteJson(QJsonObject{{"host", host}, {"network", network}, {"vsn", 3}}, config_path, error))
        return false;
    const QJsonObject site{{"server config", "server.cfg"},
                           {"seed", static_cast<int>(options.seed)},
                           {"noise", QJsonObject{{"tof sigma m", 0.02}, {"max clock drift ppm", 5}}},
                           {"ethernet", QJsonObject{{"announce period ms", 1000}}},
                           {"truth", QJsonObject{{"csv", ""}, {"port", 0}}},
                           {"devices", site_devices}};
    if (!WriteJson(site, site_path, error))
        return false;

    // The pair as the simulator and the server will read it.
    sim_site_t loaded;
    Settings settings;
    return LoadSimSite(site_path.toStdString(), "", &loaded, &settings, error);
}
