#include "gui/twr_tab.h"

#include <QHeaderView>
#include <QString>
#include <QTableWidgetItem>
#include <QVBoxLayout>

#include "base/byte_order.h"
#include "base/serial_number.h"
#include "gui/data_transport.h"

vex_data_distance_t TwrDistance_Create(uint32_t initiator, uint32_t responder, double metres,
                                       uint32_t elapsed_ms, uint16_t count) {
    vex_data_distance_t distance;
    wire::write_le32(distance.data + 0, initiator);
    wire::write_le32(distance.data + 4, responder);
    wire::write_le32(distance.data + 8, static_cast<uint32_t>(VexData_MetresToMillimetres(metres)));
    wire::write_le32(distance.data + 12, elapsed_ms);
    wire::write_le16(distance.data + 16, count);
    return distance;
}

TwrTab::TwrTab(DataTransport* transport, QWidget* parent)
    : QWidget(parent), transport_(transport), table_(new QTableWidget(0, 3, this)) {
    table_->setHorizontalHeaderLabels({tr("Initiator"), tr("Responder"), tr("Distance (m)")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    clock_.start();
}

void TwrTab::AddDistance(quint32 initiator, quint32 responder, double metres) {
    const QPair<quint32, quint32> key(initiator, responder);
    auto pair = pairs_.find(key);
    if (pair == pairs_.end()) {
        const int row = table_->rowCount();
        table_->insertRow(row);
        table_->setItem(row, 0,
                        new QTableWidgetItem(QString::fromStdString(SerialNumber_ToString(initiator))));
        table_->setItem(row, 1,
                        new QTableWidgetItem(QString::fromStdString(SerialNumber_ToString(responder))));
        table_->setItem(row, 2, new QTableWidgetItem());
        pair = pairs_.insert(key, Pair{row, 0});
    }
    table_->item(pair->row, 2)->setText(QString::number(metres, 'f', 3));

    // The elapsed time wraps at 2^32 ms by design of the item.
    const uint32_t elapsed_ms = static_cast<uint32_t>(static_cast<quint64>(clock_.elapsed()));
    VexPacket packet(initiator);
    VexData_Add(packet, TwrDistance_Create(initiator, responder, metres, elapsed_ms, pair->count));
    transport_->PublishExternal(packet);
    ++pair->count;
}
