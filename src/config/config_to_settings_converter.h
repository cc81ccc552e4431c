#pragma once
// Turns a version-3 configuration object into settings. It checks nothing: every key
// that is absent or of another JSON type takes its default, integers keep the low bits
// that fit their field, and the settings always end marked valid.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include "base/network_socket_settings.h"
#include "config/node_settings.h"
#include "protocol/packets/set_mpu_config_packet.h"
#include "protocol/packets/set_rf_settings_packet.h"

class Settings;

class ConfigToSettingsConverter {
  public:
    // Overwrites every field of the settings (lists emptied and refilled, alien list
    // replaced), then marks them valid. Returns settings.
    static Settings* ConvertConfigToSettings(Settings* settings, QJsonObject config);

    static void ConvertHostConfigToSettings(Settings* settings, QJsonObject host);
    static void ConvertSocketConfigToSettings(NetworkSocketSettings& socket, QJsonObject config);
    static void ConvertNetworkConfigToSettings(Settings* settings, QJsonObject network);
    static void ConvertNetworkRfConfigToSettings(Settings* settings, QJsonArray rf_settings);
    // The RF record of one "rf settings" object, network byte 0.
    static cmd_set_rf_settings_t ConvertRfConfigToSetRfSettingsCmd(QJsonObject rf);
    static void ConvertNodeConfigToNodeSettings(NodeSettings& node, QJsonObject config);
    static void ConvertMasterConfigToSettings(Settings* settings, QJsonObject config);
    static void ConvertAnchorConfigToSettings(Settings* settings, QJsonObject config);
    static void ConvertTagConfigToSettings(Settings* settings, QJsonObject config);
    static void ConvertOtherKnownNetworkConfigToSettings(Settings* settings, QJsonArray known_networks);

    // The tag sensor record of a "tag payload" object.
    static sensors_config_t ConvertTagPayloadConfig(QJsonObject tag_payload);
};
