#pragma once
// Where a node hands a finished time-of-arrival report: the location engine.
// An interface here, so that the device model does not depend on the engine.

#include <QByteArray>

class ToaReportReceiver {
  public:
    // The report as DerAzudToaRpt_ToBuff encodes it. Called on the thread that
    // completed the report (the Internal stream's receiver thread).
    virtual void ToaRxCallback(QByteArray report) = 0;

  protected:
    ~ToaReportReceiver() = default;
};
