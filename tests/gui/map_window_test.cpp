// The map shows every node where it is (checked on the rendered image, against
// the anchors' own markers), and its field sends the smoothing factor as one
// 0x8005 item on the Internal stream.
#include "gui/map_window.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <algorithm>
#include <cmath>
#include <vector>

#include "config/settings.h"
#include "gui/data_transport.h"
#include "protocol/vex/vex_data_types.h"
#include "support/loopback_streams.h"
#include "support/stream_settings.h"

namespace {

vex_data_infrastructure_t Node(uint8_t kind, uint32_t serial, int32_t x, int32_t y) {
    vex_data_infrastructure_t node = {};
    node.kind = kind;
    node.serial_number = serial;
    node.x = x;
    node.y = y;
    node.z = 2500;
    return node;
}

vex_data_position_t Position(int32_t x, int32_t y) {
    vex_data_position_t position = {};
    position.x = x;
    position.y = y;
    return position;
}

// Pixels close to the colour (antialiased edges are left out).
bool IsColour(QRgb pixel, const QColor& colour) {
    return std::abs(qRed(pixel) - colour.red()) < 30 && std::abs(qGreen(pixel) - colour.green()) < 30 &&
           std::abs(qBlue(pixel) - colour.blue()) < 30;
}

// Centroid of the pixels of the colour within `radius` of `near`; false when
// there are none.
bool Centroid(const QImage& image, const QColor& colour, QPointF near, double radius, QPointF* centre) {
    double sum_x = 0, sum_y = 0;
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (std::hypot(x - near.x(), y - near.y()) <= radius && IsColour(image.pixel(x, y), colour)) {
                sum_x += x;
                sum_y += y;
                ++count;
            }
        }
    }
    if (count == 0)
        return false;
    *centre = QPointF(sum_x / count, sum_y / count);
    return true;
}

// Pixels of the colour farther than `radius` from every point given.
int StrayPixels(const QImage& image, const QColor& colour, const std::vector<QPointF>& points,
                double radius) {
    int stray = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!IsColour(image.pixel(x, y), colour))
                continue;
            bool near_one = false;
            for (const QPointF& point : points)
                near_one = near_one || std::hypot(x - point.x(), y - point.y()) <= radius;
            stray += near_one ? 0 : 1;
        }
    }
    return stray;
}

class MapWindowTest : public ::testing::Test {
  protected:
    MapWindowTest() : settings_(StreamSettings(44210, 44211)), transport_(&settings_), window_(&transport_) {
        window_.resize(500, 400);
        window_.GetView()->SetClock([this] { return now_ms_; });
    }
    void ShowRoom() {
        window_.ShowInfrastructure(Node(kVexInfrastructureMaster, 0x01000001, 5000, 0));
        window_.ShowInfrastructure(Node(kVexInfrastructureAnchor, 0x01000011, 0, 0));
        window_.ShowInfrastructure(Node(kVexInfrastructureAnchor, 0x01000012, 10000, 0));
        window_.ShowInfrastructure(Node(kVexInfrastructureAnchor, 0x01000013, 10000, 8000));
        window_.ShowInfrastructure(Node(kVexInfrastructureAnchor, 0x01000014, 0, 8000));
    }
    qint64 now_ms_ = 0;
    Settings settings_;
    DataTransport transport_;
    MapWindow window_;
};

TEST_F(MapWindowTest, DrawsEachTagWhereItIsAmongTheAnchors) {
    // A 10 m by 8 m room: anchors in the corners, the master on the south wall.
    ShowRoom();
    window_.ShowPosition(0x02000001, Position(2500, 6000));
    window_.ShowPosition(0x02000002, Position(7500, 2000));
    window_.ShowPosition(0x02000002, Position(8000, 4000));  // the second tag moved

    const QImage image = window_.GetView()->grab().toImage();
    ASSERT_FALSE(image.isNull());
    // The anchors' markers give the room's corners on the image; each corner is
    // looked for in its own quarter.
    const double w = image.width(), h = image.height();
    QPointF south_west, south_east, north_west;
    ASSERT_TRUE(Centroid(image, MapView::kAnchorColour, QPointF(0, h), w / 2, &south_west));
    ASSERT_TRUE(Centroid(image, MapView::kAnchorColour, QPointF(w, h), w / 2, &south_east));
    ASSERT_TRUE(Centroid(image, MapView::kAnchorColour, QPointF(0, 0), w / 2, &north_west));
    EXPECT_NEAR(south_west.y(), south_east.y(), 1.0);  // north is up
    EXPECT_NEAR(south_west.x(), north_west.x(), 1.0);
    EXPECT_LT(north_west.y(), south_west.y());
    // One scale for both axes: the room is 10 by 8.
    EXPECT_NEAR((south_east.x() - south_west.x()) / (south_west.y() - north_west.y()), 10.0 / 8.0, 0.02);

    auto expected_at = [&](double x_mm, double y_mm) {
        return QPointF(south_west.x() + x_mm / 10000.0 * (south_east.x() - south_west.x()),
                       south_west.y() + y_mm / 8000.0 * (north_west.y() - south_west.y()));
    };
    QPointF master;
    ASSERT_TRUE(Centroid(image, MapView::kMasterColour, expected_at(5000, 0), 8, &master));
    EXPECT_NEAR(master.x(), expected_at(5000, 0).x(), 1.0);
    EXPECT_NEAR(master.y(), expected_at(5000, 0).y(), 1.0);

    const std::vector<QPointF> tags = {expected_at(2500, 6000), expected_at(8000, 4000)};
    for (const QPointF& tag : tags) {
        QPointF drawn;
        ASSERT_TRUE(Centroid(image, MapView::kTagColour, tag, 8, &drawn)) << tag.x() << "," << tag.y();
        EXPECT_NEAR(drawn.x(), tag.x(), 1.0);
        EXPECT_NEAR(drawn.y(), tag.y(), 1.0);
    }
    // Nothing is left where the second tag was.
    EXPECT_EQ(StrayPixels(image, MapView::kTagColour, tags, 8), 0);
}

TEST_F(MapWindowTest, AStrayTagLeavesAndTheRoomFillsTheViewAgain) {
    ShowRoom();
    window_.ShowPosition(0x02000001, Position(5000, 4000));
    window_.ShowPosition(0x02FFFFFF, Position(2000000, -3000000));  // 2 km east, 3 km south
    now_ms_ = MapView::kTagTimeoutMs;
    window_.ShowPosition(0x02000001, Position(5000, 4500));
    window_.GetView()->RemoveExpiredTags();
    EXPECT_EQ(window_.GetView()->GetTagCount(), 2);  // not yet silent for longer than the timeout
    now_ms_ = MapView::kTagTimeoutMs + 1;
    const QImage image = window_.GetView()->grab().toImage();
    EXPECT_EQ(window_.GetView()->GetTagCount(), 1);

    // The room alone sets the scale again: 24 px margins, 10 m by 8 m.
    const double w = image.width(), h = image.height();
    const double scale = std::min((w - 48) / 10000, (h - 48) / 8000);
    QPointF south_west, north_east;
    ASSERT_TRUE(Centroid(image, MapView::kAnchorColour, QPointF(0, h), w / 2, &south_west));
    ASSERT_TRUE(Centroid(image, MapView::kAnchorColour, QPointF(w, 0), w / 2, &north_east));
    EXPECT_NEAR(north_east.x() - south_west.x(), 10000 * scale, 1.0);
    EXPECT_NEAR(south_west.y() - north_east.y(), 8000 * scale, 1.0);
}

TEST_F(MapWindowTest, NewTagsBeyondTheCapWaitUntilOthersLeave) {
    for (uint32_t serial = 1; serial <= MapView::kMaxTags; ++serial)
        window_.ShowPosition(serial, Position(serial, 0));
    now_ms_ = 1000;
    window_.ShowPosition(0x7FFFFFFF, Position(0, 0));         // refused
    window_.ShowPosition(MapView::kMaxTags, Position(0, 0));  // a known tag still moves
    EXPECT_EQ(window_.GetView()->GetTagCount(), MapView::kMaxTags);
    now_ms_ = MapView::kTagTimeoutMs + 1;  // all but the one that moved are gone
    window_.GetView()->RemoveExpiredTags();
    window_.ShowPosition(0x7FFFFFFF, Position(0, 0));
    EXPECT_EQ(window_.GetView()->GetTagCount(), 2);
}

TEST_F(MapWindowTest, SendsTheSmoothingFactorAsOneItemOnTheInternalStream) {
    DatagramReader internal(44211);
    ASSERT_TRUE(internal.IsReady());
    // Not a number: refused, nothing sent; the next datagram is the good one's.
    window_.GetSmoothingFactorField()->setText("four");
    window_.GetSmoothingFactorButton()->click();
    window_.GetSmoothingFactorField()->setText("4294967295");
    window_.GetSmoothingFactorButton()->click();

    VexPacket packet(0xFFFFFFFF);
    ASSERT_TRUE(internal.Next(&packet));
    EXPECT_EQ(packet.GetSerialNumber(), 0u);
    const VexDataItemList items = packet.GetDataItems();
    ASSERT_EQ(items.size(), 1u);
    vex_data_smoothing_factor_t command;
    ASSERT_TRUE(VexData_Read(*items[0], &command));
    // Fields of the packed record are copied out before they are compared.
    EXPECT_EQ(uint16_t{command.source_host_id}, 0);
    EXPECT_EQ(uint16_t{command.destination_host_id}, 0);
    EXPECT_EQ(uint32_t{command.smoothing_factor}, 4294967295u);
}

}  // namespace
