#pragma once
// Entry point of the configuration upgrade: brings a configuration object of any
// version to the current layout, in memory. It never fails and prints nothing.

#include <QJsonObject>

class ConfigUpdater {
  public:
    static QJsonObject UpdateConfigurationToMostRecent(QJsonObject config);
};
