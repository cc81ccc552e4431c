#include "gui/data_transport.h"

#include <QJsonObject>
#include <QMetaObject>
#include <cstdio>
#include <cstring>

#include "base/thread_annotations.h"
#include "config/config_to_settings_converter.h"
#include "config/flat_settings_interface.h"

static const uint16_t external_types_[] = {
    VexType::kMpu9250Magnetometer,
    VexType::kLps25hPressure,
    VexType::kLps25hTemperature,
    VexType::kMpu9250Accelerometer,
    VexType::kMpu9250Gyroscope,
    VexType::kMpu9250Quaternion,
    VexType::kPosition,
    VexType::kInfrastructure,
};
static const uint16_t internal_types_[] = {VexType::kTick, VexType::kTimedRx, VexType::kDiscovery,
                                           VexType::kConfig};

DataTransport::DataTransport(Settings* settings, QObject* parent) : QObject(parent) {
    qRegisterMetaType<vex_data_infrastructure_t>("vex_data_infrastructure_t");
    qRegisterMetaType<QSharedPointer<Settings>>("QSharedPointer<Settings>");
    const FlatSettingsInterface flat(settings);
    const NetworkSocketSettings output = flat.GetOutputSocketSettings();
    const NetworkSocketSettings input = flat.GetInputSocketSettings();
    external_ = std::make_unique<VexConnection>(output);
    if (input != output)
        internal_ = std::make_unique<VexConnection>(input);
    for (uint16_t type : external_types_)
        Subscribe(external_.get(), type);
    for (uint16_t type : internal_types_)
        Subscribe(internal_ ? internal_.get() : external_.get(), type);
}

DataTransport::~DataTransport() {
    // The connections clear their subscriptions first, so no callback runs on
    // this object once they are gone.
    internal_.reset();
    external_.reset();
}

void DataTransport::PublishExternal(VexPacket& packet) {
    external_->Publish(packet);
}

void DataTransport::PublishInternal(VexPacket& packet) {
    (internal_ ? internal_ : external_)->Publish(packet);
}

void DataTransport::Subscribe(VexConnection* connection, uint16_t type) {
    connection->Subscribe(
        type, [this](uint32_t serial, uint32_t, const VexDataItem& item) { Enqueue(serial, item); });
}

void DataTransport::Enqueue(uint32_t serial, const VexDataItem& item) {
    AnnotatedMutexLocker locker(&received_mutex_);
    if (received_.size() >= kMaxQueuedItems) {
        ++dropped_;
        return;
    }
    received_.push_back(
        Received{serial, item.GetType(),
                 QByteArray(reinterpret_cast<const char*>(item.GetData()), item.GetDataSize())});
    if (wake_pending_)
        return;
    wake_pending_ = true;
    QMetaObject::invokeMethod(this, "DeliverReceived", Qt::QueuedConnection);
}

void DataTransport::DeliverReceived() {
    std::deque<Received> batch;
    uint64_t dropped = 0;
    {
        AnnotatedMutexLocker locker(&received_mutex_);
        batch.swap(received_);
        dropped = dropped_;
        dropped_ = 0;
        wake_pending_ = false;
    }
    if (dropped != 0) {
        printf("DataTransport: dropped %llu items the user interface could not keep up with\n",
               static_cast<unsigned long long>(dropped));
        fflush(stdout);
    }
    for (const Received& item : batch)
        Deliver(item);
}

// Copies the payload into the record when it is exactly the record's size.
template <typename Record>
static bool ReadRecord(const QByteArray& payload, Record* record) {
    if (payload.size() != static_cast<int>(sizeof(Record)))
        return false;
    std::memcpy(record, payload.constData(), sizeof(Record));
    return true;
}

void DataTransport::Deliver(const Received& item) {
    emit ItemReceived(item.serial, item.type, item.payload);
    if (item.type == VexType::kPosition) {
        vex_data_position_t position;
        if (ReadRecord(item.payload, &position))
            emit PositionReceived(item.serial, position);
    } else if (item.type == VexType::kInfrastructure) {
        vex_data_infrastructure_t node;
        if (ReadRecord(item.payload, &node))
            emit InfrastructureReceived(node);
    } else if (item.type == VexType::kConfig) {
        const VexDataItem config_item(item.type, static_cast<uint16_t>(item.payload.size()),
                                      item.payload.constData());
        QJsonObject config;
        if (!VexDataConfig_Read(config_item, &config))
            return;
        auto settings = QSharedPointer<Settings>::create();
        ConfigToSettingsConverter::ConvertConfigToSettings(settings.data(), config);
        emit ConfigurationReceived(settings);
    }
}
