#pragma once
// Typed reads of configuration values that never fail: a value that is absent or
// of another JSON type gives the caller's default.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <cstdint>
#include <string>

namespace config_json {

// A JSON number that is a whole number within the signed 32-bit range, else the
// default. Callers keep the low bits that fit their field.
int32_t ReadInt(const QJsonValue& value, int32_t default_value);
// Any JSON number, else the default.
double ReadDouble(const QJsonValue& value, double default_value);
// Only a JSON boolean: the number 0 is not false.
bool ReadBool(const QJsonValue& value, bool default_value);
// Only a JSON string, as UTF-8.
std::string ReadString(const QJsonValue& value, const std::string& default_value);
QString ReadQString(const QJsonValue& value, const QString& default_value);
// An empty object or array for any other value.
QJsonObject ReadObject(const QJsonValue& value);
QJsonArray ReadArray(const QJsonValue& value);

}  // namespace config_json
