#pragma once
// The main window of the user interface: the map and the ranging window as
// tabs, the message log as a dock, and the Vuv receiver that feeds them.
// While it exists its message window holds Qt's message handler.
//
// GUI thread only.

#include <QMainWindow>
#include <QSharedPointer>
#include <QTabWidget>

#include "config/settings.h"
#include "gui/data_transport.h"
#include "gui/map_window.h"
#include "gui/message_window.h"
#include "gui/twr_tab.h"

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    // The streams are those of Settings::GlobalSettings() at construction.
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    DataTransport* GetDataTransport() const { return data_transport_; }
    MapWindow* GetMapWindow() const { return map_window_; }
    TwrTab* GetTwrTab() const { return twr_tab_; }
    MessageWindow* GetMessageWindow() const { return message_window_; }
    // The configuration last received on the Internal stream, or null.
    QSharedPointer<Settings> GetReceivedSettings() const { return received_settings_; }

  private slots:
    void KeepReceivedSettings(QSharedPointer<Settings> settings);

  private:
    DataTransport* data_transport_;
    QTabWidget* tabs_;
    MapWindow* map_window_;
    TwrTab* twr_tab_;
    MessageWindow* message_window_;
    QSharedPointer<Settings> received_settings_;
};
