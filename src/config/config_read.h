#pragma once
// The one loading chain of a configuration file: load (this server's entry),
// upgrade to the current version, validate, convert. Start-up, the GUI's load
// actions, the tests, the fuzz targets and the benchmarks all read files
// through it, so that no copy of the chain drifts from the others.

#include <QJsonObject>
#include <string>

class ConfigFileLoader;
class Settings;

// Runs the chain on `path` with `loader` (which knows the server uid). The
// load counts as successful once the file is read and the upgraded object
// validated; only then are the settings overwritten (and marked valid). The
// upgraded object goes to `config` when given, whether or not it validated.
bool ReadConfig(ConfigFileLoader* loader, const std::string& path, Settings* settings,
                QJsonObject* config = nullptr);
