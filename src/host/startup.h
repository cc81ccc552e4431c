#pragma once
// The pieces of process start-up that do not need the user interface: Qt's
// record types, the stdout message handler, the command line, the
// configuration file and the host thread. main() (src/main.cpp) runs them in
// order; the termination signals are in host/termination_signals.h.
//
// Everything here runs in the main thread, except RedirectQdebugToStdout,
// which Qt calls in whichever thread logs.

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

// Record types that travel through queued signals, registered by value under
// their own names, before any object is created.
void RegisterQtMetaTypes();

// Qt message handler: each message on stdout as "%s\n", flushed.
void RedirectQdebugToStdout(QtMsgType type, const QMessageLogContext& context, const QString& message);

// Reads QCoreApplication::arguments() into the four options (which hold their
// defaults on entry). False when the program is to end (help, a refusal); the
// reason has been printed.
bool ParseArguments(QString& configFile, bool& runHost, bool& runGui, int& quitTimeMs);

// The loading chain on fileName into Settings::GlobalSettings(), with the
// process-wide loader (its server uid). True when the file was read and
// validated.
bool ReadConfig(QString fileName);
// The configuration object as last read and upgraded by ReadConfig.
QJsonObject ReadConfigData();

// Starts the host (its first start runs here, in the main thread), then moves
// it into the host thread and starts that thread. Returns Host::SetupHost()'s
// result.
bool SetupHost();

// Asks the host thread to quit and waits for it, then for every thread the
// host started, all within `bound_ms`. False when a thread is still running
// at the bound.
bool EndHostThreads(unsigned long bound_ms);
