#pragma once
// Upgrade of the flat version-1 layout ("clocks", "anchors", "tags", "lcm_port",
// "twr_adjustment", "x_max" ...) to the version-2 layout with "host" and "network".

#include <QJsonObject>

#include "config/config_version_updater.h"

class ConfigVersionOneUpdater : public ConfigVersionUpdater {
  public:
    QJsonObject UpdateConfiguration(QJsonObject config) override;

    // "serial number" and "antenna delay" from a version-1 device that has a "serial";
    // a device without one leaves out unchanged.
    void ConvertDeviceGenericData(QJsonObject& out, QJsonObject device, int antennaDelay);
    // The same, then whichever of "x", "y", "z" the device has.
    void ConvertAnchorGenericData(QJsonObject& out, QJsonObject device, int antennaDelay);

  private:
    static int AntennaDelayFromAdjustment(const QJsonObject& config);
    static QJsonObject HostSection(const QJsonObject& config);
    static QJsonObject TagBounds(const QJsonObject& config);
};
