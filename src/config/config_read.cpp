#include "config/config_read.h"

#include "config/config_file_loader.h"
#include "config/config_file_validator.h"
#include "config/config_to_settings_converter.h"
#include "config/config_updater.h"

bool ReadConfig(ConfigFileLoader* loader, const std::string& path, Settings* settings, QJsonObject* config) {
    bool ok = false;
    QJsonObject loaded = loader->LoadJsonConfigFromFile(path, &ok);
    if (!ok) {
        if (config != nullptr)
            *config = loaded;
        return false;
    }
    loaded = ConfigUpdater::UpdateConfigurationToMostRecent(loaded);
    if (config != nullptr)
        *config = loaded;
    if (!ConfigFileValidator::IsConfigFileValid(loaded, false))
        return false;
    ConfigToSettingsConverter::ConvertConfigToSettings(settings, loaded);
    return true;
}
