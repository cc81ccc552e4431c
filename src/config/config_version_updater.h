#pragma once
// One step of the configuration upgrade: takes a configuration object of one layout
// and returns it in the next. Steps are created on the stack for a single call.

#include <QJsonObject>

class ConfigVersionUpdater {
  public:
    virtual QJsonObject UpdateConfiguration(QJsonObject config) = 0;

  protected:
    // Never deleted through the base: each step lives on its caller's stack.
    ~ConfigVersionUpdater() = default;
};
