#pragma once
// The user interface's receiver of both Vuv streams, with connections of its
// own (one when the two streams' settings are equal). It subscribes to the
// items the windows show and hands each to the GUI thread, where it emits it.
// It also sends the windows' own items.
//
// Threads: the subscriber callbacks run on the connections' receiver threads;
// they copy each item into received_ (under received_mutex_) and wake the GUI
// thread, which drains the queue and emits every signal. So every signal is
// emitted in the GUI thread, and no item data is shared with a receiver
// thread. Everything else runs in the GUI thread.

#include <QByteArray>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <cstdint>
#include <deque>
#include <memory>

#include "config/settings.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"

Q_DECLARE_METATYPE(vex_data_infrastructure_t)
Q_DECLARE_METATYPE(QSharedPointer<Settings>)

class DataTransport : public QObject {
    Q_OBJECT

  public:
    // Items kept for the GUI thread at most; beyond that new ones are dropped
    // (counted and reported) so a stalled GUI cannot exhaust memory.
    static constexpr size_t kMaxQueuedItems = 4096;

    // Opens the streams of the settings' External and Internal sockets.
    explicit DataTransport(Settings* settings, QObject* parent = nullptr);
    // Closes the streams; waits for a callback that is running.
    ~DataTransport() override;

    void PublishExternal(VexPacket& packet);
    void PublishInternal(VexPacket& packet);

  signals:
    // Every subscribed item, once, with its packet's serial number.
    void ItemReceived(quint32 serial, quint16 type, QByteArray payload);
    // Decoded forms of the items the windows use; sent after ItemReceived.
    void PositionReceived(quint32 serial, vex_data_position_t position);
    void InfrastructureReceived(vex_data_infrastructure_t node);
    // The configuration item as fresh settings, converted without validation.
    void ConfigurationReceived(QSharedPointer<Settings> settings);

  private slots:
    void DeliverReceived();

  private:
    struct Received {
        uint32_t serial;
        uint16_t type;
        QByteArray payload;
    };

    void Subscribe(VexConnection* connection, uint16_t type);
    void Enqueue(uint32_t serial, const VexDataItem& item);
    void Deliver(const Received& item);

    std::unique_ptr<VexConnection> external_;
    // Null when the External connection serves both streams.
    std::unique_ptr<VexConnection> internal_;
    // Guards received_, dropped_ and wake_pending_: taken by the receiver
    // threads (Enqueue) and the GUI thread (DeliverReceived).
    QMutex received_mutex_;
    std::deque<Received> received_;
    uint64_t dropped_ = 0;
    bool wake_pending_ = false;
};
