#pragma once
// Decides whether a version-3 configuration object holds every key the conversion
// needs. Checks presence only, in a fixed order, and stops at the first key missing
// with one message naming it; also refuses one serial number on two enabled devices.
// Changes nothing.

#include <QJsonArray>
#include <QJsonObject>
#include <vector>

class ConfigFileValidator {
  public:
    ConfigFileValidator() = default;

    // The flag arguments are accepted for the callers' sake and not used.
    static bool IsConfigFileValid(QJsonObject config, bool flag);
    static bool IsHostSectionValid(QJsonObject host, bool flag);
    static bool IsNetworkSectionValid(QJsonObject network, bool flag);
    static bool IsSocketValid(QJsonObject socket, const char* name);
    // True when a serial number occurs more than once among the enabled entries (a
    // missing or non-boolean "enabled" counts as enabled); writes one debug line per
    // such serial number, smallest first.
    static bool CheckForSerialNumberDuplication(std::vector<QJsonArray> lists);
};
