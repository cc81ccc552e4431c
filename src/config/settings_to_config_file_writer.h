#pragma once
// Writes settings as an indented version-3 configuration file.

#include <string>

class Settings;

class SettingsToConfigFileWriter {
  public:
    SettingsToConfigFileWriter() {}

    // Replaces the file's contents. Returns false, after one line naming the path on
    // standard output, when the file cannot be opened or written in full: a save must
    // not fail silently.
    bool WriteSettingsToJsonFile(Settings* settings, std::string path);
};
