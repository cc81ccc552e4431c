#pragma once
// The map: a top view of the master and anchors (from the infrastructure
// items) and the tags (from their position items), and the field that sends
// the location engine a new position smoothing factor.
//
// GUI thread only.

#include <QColor>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMap>
#include <QPointF>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <utility>

#include "protocol/vex/vex_data_types.h"

class DataTransport;

// Draws the nodes, the whole set fitted into the widget with north (+y) up
// and one scale for both axes.
//
// Tags come from the network, so their number is bounded: a tag whose
// position has not come for kTagTimeoutMs leaves the map (checked every
// second and before each repaint), and at most kMaxTags tags are kept; a new
// serial number beyond that is not shown until another tag has left. The
// extent is that of the nodes on the map at the time of drawing, so a stray
// position stops distorting the view once its tag has left.
class MapView : public QWidget {
    Q_OBJECT

  public:
    static const QColor kMasterColour;
    static const QColor kAnchorColour;
    static const QColor kTagColour;
    static constexpr qint64 kTagTimeoutMs = 30000;
    static constexpr int kMaxTags = 4096;

    explicit MapView(QWidget* parent = nullptr);

    // Positions in millimetres, keyed by serial number.
    void SetInfrastructureNode(uint32_t serial, uint8_t kind, QPointF position_mm);
    void SetTag(uint32_t serial, QPointF position_mm);

    int GetTagCount() const { return tags_.size(); }
    // Milliseconds on a monotonic clock; the default counts from construction.
    void SetClock(std::function<qint64()> now_ms) { now_ms_ = std::move(now_ms); }

  public slots:
    void RemoveExpiredTags();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // True when a tag left.
    bool _RemoveExpiredTags();

    struct Node {
        QPointF position_mm;
        QColor colour;
        qint64 seen_ms;  // tags only: when the last position came
    };
    QMap<uint32_t, Node> infrastructure_;
    QMap<uint32_t, Node> tags_;
    QElapsedTimer since_construction_;
    std::function<qint64()> now_ms_;
    QTimer expiry_timer_;
    // Set when a new tag was turned away, so the full map is reported once.
    bool tag_refused_ = false;
};

class MapWindow : public QWidget {
    Q_OBJECT

  public:
    // Sends through `transport`, which must outlive the window.
    explicit MapWindow(DataTransport* transport, QWidget* parent = nullptr);

    QLineEdit* GetSmoothingFactorField() const { return smoothing_factor_field_; }
    QPushButton* GetSmoothingFactorButton() const { return smoothing_factor_button_; }
    MapView* GetView() const { return view_; }

  public slots:
    void ShowPosition(quint32 serial, vex_data_position_t position);
    void ShowInfrastructure(vex_data_infrastructure_t node);
    // Sends the field's value as one 0x8005 item (packet serial number 0,
    // from the user interface to every host) on the Internal stream. A value
    // that is not a whole number from 0 to 4294967295 is refused with a
    // warning and nothing is sent.
    void PublishSmoothingFactor();

  private:
    DataTransport* transport_;
    QLineEdit* smoothing_factor_field_;
    QPushButton* smoothing_factor_button_;
    MapView* view_;
};
