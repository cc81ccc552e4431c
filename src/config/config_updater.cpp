#include "config/config_updater.h"

#include "config/config_version_two_updater.h"

QJsonObject ConfigUpdater::UpdateConfigurationToMostRecent(QJsonObject config) {
    ConfigVersionTwoUpdater updater;
    return updater.UpdateConfiguration(config);
}
