#pragma once
// The two-way-ranging window: the last distance of each device pair in a
// table, and each distance published on the External stream as item 0x0101.
//
// Payload of 0x0101 (vex_data_distance_t, 18 bytes, little-endian; no part
// of the server reads it):
//   offset 0, u32: serial number of the initiator
//   offset 4, u32: serial number of the responder
//   offset 8, i32: distance in millimetres, truncated toward zero (saturating;
//                  not a number gives 0)
//   offset 12, u32: milliseconds from the window's creation to the distance,
//                  wrapping at 2^32
//   offset 16, u16: number of distances published for this pair before this
//                  one, wrapping at 2^16
// Packet serial number: the initiator's.
//
// GUI thread only.

#include <QElapsedTimer>
#include <QMap>
#include <QPair>
#include <QTableWidget>
#include <QWidget>
#include <cstdint>

#include "protocol/vex/vex_data_types.h"

class DataTransport;

vex_data_distance_t TwrDistance_Create(uint32_t initiator, uint32_t responder, double metres,
                                       uint32_t elapsed_ms, uint16_t count);

class TwrTab : public QWidget {
    Q_OBJECT

  public:
    // Sends through `transport`, which must outlive the tab.
    explicit TwrTab(DataTransport* transport, QWidget* parent = nullptr);

    QTableWidget* GetTable() const { return table_; }

  public slots:
    // Shows the pair's new distance and publishes it.
    void AddDistance(quint32 initiator, quint32 responder, double metres);

  private:
    struct Pair {
        int row;
        uint16_t count;
    };

    DataTransport* transport_;
    QTableWidget* table_;
    QElapsedTimer clock_;
    QMap<QPair<quint32, quint32>, Pair> pairs_;
};
