#pragma once
// Turns settings back into the version-3 configuration object that
// ConfigToSettingsConverter reads. Some values are not written and come back as the
// reader's defaults: the localisation tuning values (velocity, thresholds, gain, speed
// of light, minimum anchors, the three flags), the configuration socket's address, port
// and ttl, the scheduler paddings and multipliers, and the alien nodes.

#include <QJsonObject>

#include "base/network_socket_settings.h"

class HostSettings;
class NodeSettings;
class RfNetworkSettings;
class Settings;

class SettingsToJsonConverter {
  public:
    SettingsToJsonConverter() {}

    QJsonObject ConvertSettingsToJson(Settings* settings);
    void ConvertHostSettingsToJson(Settings* settings, QJsonObject* config);
    void ConvertTagBoundsToJson(HostSettings* host, QJsonObject* host_config);
    void ConvertMulticastSettingsToJson(HostSettings* host, QJsonObject* host_config);
    void ConvertSocketSettingsToJson(const char* key, NetworkSocketSettings socket, QJsonObject* multicast);
    void ConvertSerialPortSettingsToJson(HostSettings* host, QJsonObject* host_config);
    void ConvertRfNetworkSettingsToJson(Settings* settings, QJsonObject* config);
    void ConvertMasterListToJson(RfNetworkSettings* network, QJsonObject* network_config);
    void ConvertAnchorListToJson(RfNetworkSettings* network, QJsonObject* network_config);
    void ConvertTagListToJson(RfNetworkSettings* network, QJsonObject* network_config);
    void ConvertNodeSettingsToJson(NodeSettings* node, QJsonObject* node_config);
    void ConvertSchedulerSettingsToJson(RfNetworkSettings* network, QJsonObject* network_config);
    void ConvertRfSettingsToJson(RfNetworkSettings* network, QJsonObject* network_config);
    void ConvertSensorSettingsToJson(RfNetworkSettings* network, QJsonObject* network_config);
};
