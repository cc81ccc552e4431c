// vorav-server: the location server with its monitoring window, in one
// process. main() runs the start-up steps in their order; the pieces live in
// the host library (host/startup.h, host/termination_signals.h) and the user
// interface library (gui/gui_platform.h, gui/main_window.h).
#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "gui/gui_platform.h"
#include "gui/main_window.h"
#include "host/host.h"
#include "host/startup.h"
#include "host/termination_signals.h"

// The application object: the QCoreApplication, replaced by a QApplication
// when the GUI is wanted. Null whenever there is none.
static QCoreApplication* appPtr = nullptr;
// The main window; deleted (later) when the application is about to quit.
static QPointer<MainWindow> window;

// Bound on the wait for the host's threads at exit.
static const unsigned long host_threads_bound_ms_ = 10000;

static void DeleteApplication() {
    delete appPtr;
    appPtr = nullptr;
}

// Throws what building the main window throws.
static bool SetupGUI() {
    printf("main: initializing GUI...\n");
    fflush(stdout);
    window = new MainWindow(nullptr);
    window->resize(1216, 750);
    window->show();
    QObject::connect(appPtr, &QCoreApplication::aboutToQuit, window.data(), &QObject::deleteLater);
    return true;
}

int main(int argc, char** argv) {
    RegisterQtMetaTypes();
    qInstallMessageHandler(RedirectQdebugToStdout);
    appPtr = new (std::nothrow) QCoreApplication(argc, argv);
    if (appPtr == nullptr) {
        printf("main: unable to properly initialize the QApplication object; program now terminating...\n");
        fflush(stdout);
        return 0;
    }
    InstallSigHandler();

    QString configFile = "default.cfg";
    bool runHost = true;
    bool runGui = true;
    int quitTimeMs = 0;
    if (!ParseArguments(configFile, runHost, runGui, quitTimeMs)) {
        DeleteApplication();
        return 0;
    }

    if (runGui) {
        DeleteApplication();
        if (GuiPlatformAvailable())
            appPtr = new (std::nothrow) QApplication(argc, argv);
        if (appPtr == nullptr) {
            printf("main: unable to properly initialize the GUI; program now terminating...\n");
            fflush(stdout);
            return 0;
        }
    }

    const bool configLoaded = ReadConfig(configFile);
    if (!configLoaded) {
        printf("main: config file load failed; defaulting to GUI only mode...\n");
        fflush(stdout);
    }

    bool guiRunning = false;
    if (runGui) {
        try {
            guiRunning = SetupGUI();
        } catch (const std::exception& error) {
            printf("%s\nExiting the application\n", error.what());
            fflush(stdout);
            delete window.data();
            DeleteApplication();
            return 250;
        }
    }

    bool hostRunning = false;
    if (!runHost) {
        Host::Instance()->SetEnabled(false);
    } else if (!configLoaded) {
        Host::Instance()->SetEnabled(false);
        Host::Instance()->ShutdownHost();
    } else {
        hostRunning = SetupHost();
        if (!hostRunning)
            Host::Instance()->ShutdownHost();
    }
    if (runHost && !hostRunning && guiRunning) {
        printf("main: switching to GUI only mode...\n");
        fflush(stdout);
    }

    if (!hostRunning && !guiRunning) {
        printf("main: neither the host nor the GUI was properly initialized; program now terminating...\n");
        fflush(stdout);
        DeleteApplication();
        return 0;
    }

    if (quitTimeMs > 0) {
        printf("Main: Setting up Timer To Shutdown Network after %d seconds\n", quitTimeMs / 1000);
        fflush(stdout);
        QTimer::singleShot(quitTimeMs, Qt::PreciseTimer, appPtr, SLOT(quit()));
    }
    QObject::connect(appPtr, &QCoreApplication::aboutToQuit, Host::Instance(), &Host::Shutdown,
                     Qt::DirectConnection);

    AttachSignalsToEventLoop(appPtr);
    const int code = appPtr->exec();
    DetachSignalsFromEventLoop();

    qInstallMessageHandler(RedirectQdebugToStdout);
    if (!EndHostThreads(host_threads_bound_ms_)) {
        // Returning would destroy a running thread; the process cannot end cleanly.
        printf("main: the host threads did not finish in time; forcing program termination...\n");
        fflush(stdout);
        _Exit(1);
    }
    DeleteApplication();
    return code;
}
