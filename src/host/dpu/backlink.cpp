#include "host/dpu/backlink.h"

#include <QThread>

#include "base/thread_annotations.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/dpu/dpu.h"
#include "host/dpu/print_flushed.h"
#include "host/dpu/twr_snoop_engine.h"
#include "protocol/vex/vex_data_types.h"

namespace {

// The Internal stream's item types in the order they are subscribed, and the
// engine operation each is handed to (the sequence number is not passed on).
struct InputRoute {
    uint16_t type;
    void (Dpu::*handler)(uint32_t serial, const VexDataItem& item);
};

const InputRoute kInputRoutes[] = {
    {VexType::kTick, &Dpu::RxVexTick},
    {VexType::kTimedRx, &Dpu::RxVexTimedRx},
    {VexType::kPing, &Dpu::RxVexPing},
    {VexType::kDiscovery, &Dpu::RxVexDiscovery},
    {VexType::kSspResponse, &Dpu::RxVexSsp},
    {VexType::kConfig, &Dpu::RxVexConfig},
    {VexType::kSmoothingFactor, &Dpu::RxVexSmoothingFactor},
};

}  // namespace

Backlink::Backlink(QPointer<Dpu> dpu, QObject* parent, const backlink_timings_t& timings)
    : QObject(parent),
      shutting_down_(false),
      infrastructure_timer_(new QTimer(this)),
      config_timer_(new QTimer(this)),
      dpu_(dpu.data()),
      timings_(timings) {
    FlatSettingsInterface settings(Settings::GlobalSettings());
    streams_ = std::make_shared<BacklinkStreams>(settings.GetOutputSocketSettings(),
                                                 settings.GetInputSocketSettings());
    if (dpu_) {
        // Each callback holds the engine it was made for: a later Backlink
        // with another engine never redirects or clears this one's.
        Dpu* const engine = dpu_;
        for (const InputRoute& route : kInputRoutes) {
            const auto handler = route.handler;
            streams_->Subscribe(route.type,
                                [engine, handler](uint32_t serial, uint32_t, const VexDataItem& item) {
                                    (engine->*handler)(serial, item);
                                });
        }
        dpu_->AttachPublisher(streams_);
    }
    // The two-way-ranging engine publishes its positions on the External
    // stream too, whoever feeds it.
    TwrSnoopEngine::Instance()->AttachPublisher(streams_);
    connect(this, &Backlink::SignalShutdown, this, &Backlink::Shutdown);
}

Backlink::~Backlink() {
    DetachEngine();
    streams_->Close();
    PrintFlushed("Backlink: thread finished\n");
}

void Backlink::PublishOutputVex(VexPacket& packet) {
    streams_->PublishOutputVex(packet);
}

void Backlink::PublishInputVex(VexPacket& packet) {
    streams_->PublishInputVex(packet);
}

void Backlink::HandItemToEngine(Dpu* dpu, uint32_t serial, const VexDataItem& item) {
    for (const InputRoute& route : kInputRoutes) {
        if (route.type == item.GetType()) {
            (dpu->*route.handler)(serial, item);
            return;
        }
    }
}

void Backlink::ClearSubscriptions() {
    streams_->ClearSubscriptions();
}

void Backlink::_SendQuitThreadSignal() {
    emit QuitThreadSignal();
}

void Backlink::DetachEngine() {
    streams_->ClearSubscriptions();
    TwrSnoopEngine::Instance()->DetachPublisher(streams_.get());
    AnnotatedMutexLocker lock(&mutex_);
    if (dpu_) {
        dpu_->DetachPublisher(streams_.get());
        dpu_ = nullptr;
    }
}

void Backlink::Run() {
    PrintFlushed("Backlink: thread running...\n");
    AnnotatedMutexLocker lock(&mutex_);
    if (shutting_down_) {
        return;
    }
    QTimer::singleShot(timings_.infrastructure_first_ms, this, &Backlink::_PublishInfrastructure);
    QTimer::singleShot(timings_.config_first_ms, this, &Backlink::_PublishConfig);
    connect(infrastructure_timer_, &QTimer::timeout, this, &Backlink::_PublishInfrastructure,
            Qt::UniqueConnection);
    connect(config_timer_, &QTimer::timeout, this, &Backlink::_PublishConfig, Qt::UniqueConnection);
    infrastructure_timer_->setSingleShot(false);
    infrastructure_timer_->setInterval(timings_.infrastructure_interval_ms);
    config_timer_->setSingleShot(false);
    config_timer_->setInterval(timings_.config_interval_ms);
    infrastructure_timer_->blockSignals(false);
    config_timer_->blockSignals(false);
    infrastructure_timer_->start();
    config_timer_->start();
}

void Backlink::_PublishInfrastructure() {
    AnnotatedMutexLocker lock(&mutex_);
    if (dpu_ && !shutting_down_) {
        dpu_->PublishInfrastructure();
    }
}

void Backlink::_PublishConfig() {
    AnnotatedMutexLocker lock(&mutex_);
    if (dpu_ && !shutting_down_) {
        dpu_->PublishConfigs();
    }
}

void Backlink::Shutdown() {
    shutting_down_ = true;
    // Before anything is handed to the Backlink's thread: the host deletes the
    // engine right after this returns.
    DetachEngine();
    if (QThread::currentThread() != thread()) {
        emit SignalShutdown();
        return;
    }
    AnnotatedMutexLocker lock(&mutex_);
    infrastructure_timer_->stop();
    config_timer_->stop();
    infrastructure_timer_->blockSignals(true);
    config_timer_->blockSignals(true);
    streams_->Close();
    emit QuitThreadSignal();
}
