#include "gui/map_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <QtDebug>
#include <algorithm>
#include <limits>

#include "gui/data_transport.h"

const QColor MapView::kMasterColour(0, 160, 0);
const QColor MapView::kAnchorColour(0, 0, 220);
const QColor MapView::kTagColour(220, 0, 0);

// Pixels kept free around the nodes, and the marker size.
static const double margin_px_ = 24.0;
static const double marker_radius_px_ = 5.0;

MapView::MapView(QWidget* parent) : QWidget(parent) {
    since_construction_.start();
    now_ms_ = [this] { return since_construction_.elapsed(); };
    expiry_timer_.setInterval(1000);
    connect(&expiry_timer_, &QTimer::timeout, this, &MapView::RemoveExpiredTags);
    expiry_timer_.start();
    setMinimumSize(200, 150);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
}

void MapView::SetInfrastructureNode(uint32_t serial, uint8_t kind, QPointF position_mm) {
    infrastructure_[serial] =
        Node{position_mm, kind == kVexInfrastructureMaster ? kMasterColour : kAnchorColour, 0};
    update();
}

void MapView::SetTag(uint32_t serial, QPointF position_mm) {
    if (tags_.size() >= kMaxTags && !tags_.contains(serial)) {
        if (!tag_refused_)
            qDebug("WARNING: the map already shows %d tags; new tags wait until others leave it", kMaxTags);
        tag_refused_ = true;
        return;
    }
    tags_[serial] = Node{position_mm, kTagColour, now_ms_()};
    update();
}

void MapView::RemoveExpiredTags() {
    if (_RemoveExpiredTags())
        update();
}

bool MapView::_RemoveExpiredTags() {
    const qint64 now = now_ms_();
    const int before = tags_.size();
    for (auto it = tags_.begin(); it != tags_.end();) {
        if (now - it->seen_ms > kTagTimeoutMs)
            it = tags_.erase(it);
        else
            ++it;
    }
    if (tags_.size() == before)
        return false;
    tag_refused_ = false;
    return true;
}

void MapView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // Before the extent is taken, so that tags gone silent no longer count.
    _RemoveExpiredTags();
    if (infrastructure_.isEmpty() && tags_.isEmpty())
        return;
    // QRectF::united() skips empty rectangles, so the extent is gathered by hand.
    double min_x = std::numeric_limits<double>::infinity(), min_y = min_x;
    double max_x = -min_x, max_y = -min_x;
    for (const auto* nodes : {&infrastructure_, &tags_}) {
        for (const Node& node : *nodes) {
            min_x = std::min(min_x, node.position_mm.x());
            max_x = std::max(max_x, node.position_mm.x());
            min_y = std::min(min_y, node.position_mm.y());
            max_y = std::max(max_y, node.position_mm.y());
        }
    }
    // A single node or nodes on one line still get an area to be drawn in.
    const double span_x = std::max(max_x - min_x, 1000.0);
    const double span_y = std::max(max_y - min_y, 1000.0);
    const double scale = std::min((width() - 2 * margin_px_) / span_x, (height() - 2 * margin_px_) / span_y);
    const QPointF centre((min_x + max_x) / 2.0, (min_y + max_y) / 2.0);
    auto to_pixels = [&](QPointF mm) {
        return QPointF(width() / 2.0 + (mm.x() - centre.x()) * scale,
                       height() / 2.0 - (mm.y() - centre.y()) * scale);
    };

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (auto it = infrastructure_.cbegin(); it != infrastructure_.cend(); ++it) {
        const QPointF at = to_pixels(it->position_mm);
        painter.setPen(Qt::NoPen);
        painter.setBrush(it->colour);
        painter.drawRect(QRectF(at.x() - marker_radius_px_, at.y() - marker_radius_px_, 2 * marker_radius_px_,
                                2 * marker_radius_px_));
    }
    for (auto it = tags_.cbegin(); it != tags_.cend(); ++it) {
        const QPointF at = to_pixels(it->position_mm);
        painter.setPen(Qt::NoPen);
        painter.setBrush(it->colour);
        painter.drawEllipse(at, marker_radius_px_, marker_radius_px_);
    }
}

MapWindow::MapWindow(DataTransport* transport, QWidget* parent)
    : QWidget(parent),
      transport_(transport),
      smoothing_factor_field_(new QLineEdit(this)),
      smoothing_factor_button_(new QPushButton(tr("Set"), this)),
      view_(new MapView(this)) {
    auto* controls = new QHBoxLayout();
    controls->addWidget(new QLabel(tr("Smoothing factor"), this));
    controls->addWidget(smoothing_factor_field_);
    controls->addWidget(smoothing_factor_button_);
    controls->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view_, 1);
    connect(smoothing_factor_field_, &QLineEdit::returnPressed, this, &MapWindow::PublishSmoothingFactor);
    connect(smoothing_factor_button_, &QPushButton::clicked, this, &MapWindow::PublishSmoothingFactor);
}

void MapWindow::ShowPosition(quint32 serial, vex_data_position_t position) {
    view_->SetTag(serial, QPointF(position.x, position.y));
}

void MapWindow::ShowInfrastructure(vex_data_infrastructure_t node) {
    view_->SetInfrastructureNode(node.serial_number, node.kind, QPointF(node.x, node.y));
}

void MapWindow::PublishSmoothingFactor() {
    bool ok = false;
    const uint factor = smoothing_factor_field_->text().trimmed().toUInt(&ok, 10);
    if (!ok) {
        qDebug("WARNING: the smoothing factor must be a whole number from 0 to 4294967295");
        return;
    }
    vex_data_smoothing_factor_t command;
    command.source_host_id = kVexHostIdUserInterface;
    command.destination_host_id = kVexHostIdEveryHost;
    command.smoothing_factor = factor;
    VexPacket packet(0);
    VexData_Add(packet, command);
    transport_->PublishInternal(packet);
}
