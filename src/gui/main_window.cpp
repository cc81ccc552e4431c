#include "gui/main_window.h"

#include <QDockWidget>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      data_transport_(new DataTransport(Settings::GlobalSettings(), this)),
      tabs_(new QTabWidget(this)),
      map_window_(new MapWindow(data_transport_, tabs_)),
      twr_tab_(new TwrTab(data_transport_, tabs_)),
      message_window_(new MessageWindow()) {
    setWindowTitle(tr("Vorav location server"));
    tabs_->addTab(map_window_, tr("Map"));
    tabs_->addTab(twr_tab_, tr("Ranging"));
    setCentralWidget(tabs_);
    auto* dock = new QDockWidget(tr("Messages"), this);
    dock->setWidget(message_window_);
    addDockWidget(Qt::BottomDockWidgetArea, dock);

    connect(data_transport_, &DataTransport::PositionReceived, map_window_, &MapWindow::ShowPosition);
    connect(data_transport_, &DataTransport::InfrastructureReceived, map_window_,
            &MapWindow::ShowInfrastructure);
    connect(data_transport_, &DataTransport::ConfigurationReceived, this, &MainWindow::KeepReceivedSettings);
    // Last, so that a window whose construction fails never took the handler.
    message_window_->TakeOverQtMessages();
}

MainWindow::~MainWindow() {
    // The streams close before the windows they feed go.
    delete data_transport_;
    data_transport_ = nullptr;
}

void MainWindow::KeepReceivedSettings(QSharedPointer<Settings> settings) {
    received_settings_ = settings;
}
