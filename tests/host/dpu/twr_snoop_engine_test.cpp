#include "host/dpu/twr_snoop_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/dpu/twr_exchange_generator.h"
#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"
#include "support/stdout_capture.h"

namespace {

using twr_test::ExchangeSetup;
using twr_test::Point;
using twr_test::SimDevice;

constexpr double kTick = 1.0 / twr_test::kTicksPerSecond;
constexpr uint32_t kInitiator = 0x01000002;
constexpr uint32_t kResponder = 0x01000003;
constexpr uint32_t kSnoop1 = 0x01000004;
constexpr uint32_t kSnoop2 = 0x01000005;
constexpr uint32_t kSnoop3 = 0x01000006;

struct Published {
    uint32_t serial;
    vex_data_position_t position;
};

// An engine wired to fake registry and External stream: the devices given
// are the nodes, network id n belongs to the device that has it.
class Harness {
  public:
    explicit Harness(const ExchangeSetup& setup) {
        AddNode(setup.initiator);
        AddNode(setup.responder);
        for (const SimDevice& snoop : setup.snoops) {
            AddNode(snoop);
        }
        engine.SetNodeLookup([this](uint32_t serial, twr_node_info_t* node) {
            auto found = nodes.find(serial);
            if (found == nodes.end()) {
                return false;
            }
            *node = found->second;
            return true;
        });
        engine.SetNetworkIdLookup([this](uint16_t id) {
            auto found = ids.find(id);
            return found == ids.end() ? 0u : found->second;
        });
        engine.AttachPublisher(
            std::make_shared<twr_test::OutputCallbackPublisher>([this](const VexPacket& packet) {
                for (const auto& item : packet.GetDataItems()) {
                    ASSERT_EQ(item->GetType(), VexType::kPosition);
                    ASSERT_EQ(item->GetDataSize(), sizeof(vex_data_position_t));
                    Published entry{packet.GetSerialNumber(), {}};
                    std::memcpy(&entry.position, item->GetData(), sizeof(vex_data_position_t));
                    published.push_back(entry);
                }
            }));
    }

    void AddNode(const SimDevice& device) {
        twr_node_info_t node;
        node.position =
            QVector3D(static_cast<float>(device.position.x), static_cast<float>(device.position.y),
                      static_cast<float>(device.position.z));
        node.has_antenna_delay = true;
        node.antenna_delay = device.antenna_delay;
        nodes[device.serial] = node;
        ids[device.network_id] = device.serial;
    }

    void Feed(const std::vector<derazud_usb_anchor_rpt_t>& reports, long counter = 100, uint32_t step = 1) {
        for (const auto& report : reports) {
            engine.AddData(&report, counter, step);
        }
    }

    TWR_DATA_T* Pair(uint32_t a, uint32_t b) {
        for (TWR_DATA_T* pair : engine.GetPairs()) {
            if (pair->serial_a == a && pair->serial_b == b) {
                return pair;
            }
        }
        return nullptr;
    }

    TwrSnoopEngine engine;
    std::map<uint32_t, twr_node_info_t> nodes;
    std::map<uint16_t, uint32_t> ids;
    std::vector<Published> published;
};

SimDevice Device(uint32_t serial, Point position, int32_t delay, double offset, double ppm) {
    return SimDevice{serial, static_cast<uint16_t>(serial & 0xFFFF), position, delay, offset, ppm};
}

// Clocks near the 40-bit wrap, rate errors within +-20 ppm, antenna delays
// around the default.
ExchangeSetup RandomSetup(std::mt19937_64& random, Point initiator, Point responder,
                          std::vector<Point> snoops) {
    std::uniform_real_distribution<double> near_wrap(twr_test::kWrap - 3e8, twr_test::kWrap - 1.0);
    std::uniform_real_distribution<double> ppm(-20.0, 20.0);
    std::uniform_int_distribution<int32_t> delay(16300, 16600);
    std::uniform_real_distribution<double> reply(200e-6, 800e-6);
    ExchangeSetup setup;
    setup.initiator =
        Device(kInitiator, initiator, delay(random), std::floor(near_wrap(random)), ppm(random));
    setup.responder =
        Device(kResponder, responder, delay(random), std::floor(near_wrap(random)), ppm(random));
    const uint32_t serials[3] = {kSnoop1, kSnoop2, kSnoop3};
    for (size_t i = 0; i < snoops.size(); ++i) {
        setup.snoops.push_back(
            Device(serials[i], snoops[i], delay(random), std::floor(near_wrap(random)), ppm(random)));
    }
    setup.responder_reply_seconds = reply(random);
    setup.initiator_reply_seconds = reply(random);
    return setup;
}

double RangeOnce(const ExchangeSetup& setup) {
    Harness harness(setup);
    harness.engine.AddTwrDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                 setup.responder.antenna_delay);
    harness.Feed(twr_test::Generate(setup).reports);
    harness.engine.RunTwrSnoop(false);
    return harness.engine.GetPairs().front()->distance;
}

// Anchor report item header and serial number, then the compact body.
constexpr int kCompactItemSize = 34;

// Rewrites the receive time of one of the report's compact items.
void SetItemReceiveTime(derazud_usb_anchor_rpt_t* report, int item, uint64_t time) {
    uint8_t* header = report->anchor_rpt.payload + twr_test::kFirstItemOffset + item * kCompactItemSize;
    for (int i = 0; i < 5; ++i) {
        header[3 + i] = static_cast<uint8_t>(time >> (8 * (4 - i)));
    }
}

double Millimetres(int32_t value) {
    return value / 1000.0;
}

Point PublishedPoint(const Published& published) {
    return Point{Millimetres(published.position.x), Millimetres(published.position.y),
                 Millimetres(published.position.z)};
}

TEST(TwrRanging, DriftingClocksNearTheWrapRangeWithinAFewMillimetres) {
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> coordinate(-30.0, 30.0);
    double worst = 0.0;
    for (int trial = 0; trial < 300; ++trial) {
        const Point a{coordinate(random), coordinate(random), coordinate(random) / 10};
        const Point b{coordinate(random), coordinate(random), coordinate(random) / 10};
        const ExchangeSetup setup = RandomSetup(random, a, b, {});
        const double distance = RangeOnce(setup);
        ASSERT_GE(distance, 0.0) << "trial " << trial;
        worst = std::max(worst, std::fabs(distance - twr_test::Distance(a, b)));
    }
    EXPECT_LT(worst, 0.006);
}

TEST(TwrRanging, ClocksAtOneRateGiveTheDistanceExactly) {
    // Whole ticks of flight and integer offsets: nothing is rounded anywhere.
    const double tick_metres = twr_test::kSpeedOfLight * kTick;
    for (int ticks : {0, 1, 213, 2131, 64000}) {
        ExchangeSetup setup;
        setup.initiator = Device(kInitiator, {0, 0, 0}, 16456, twr_test::kWrap - 4e7, 0.0);
        setup.responder = Device(kResponder, {ticks * tick_metres, 0, 0}, 16390, 123456789.0, 0.0);
        EXPECT_NEAR(RangeOnce(setup), ticks * tick_metres, 1e-9) << ticks << " ticks";
    }
}

TEST(TwrRanging, WrapsBetweenAnyTwoMessagesDoNotDisturbTheDistance) {
    const Point a{1.0, 2.0, 0.5};
    const Point b{7.5, -3.0, 2.0};
    // Offsets that put a wrap of the initiator's or the responder's clock
    // just before message 2 or just before message 3 (the exchange starts at
    // 1 ms; message 2 follows after about 300 us, message 3 450 us later).
    const double before_message_2 = twr_test::kWrap - 0.00115 * twr_test::kTicksPerSecond;
    const double before_message_3 = twr_test::kWrap - 0.00155 * twr_test::kTicksPerSecond;
    const double offsets[][2] = {{before_message_2, 5e8},
                                 {before_message_3, 5e8},
                                 {5e8, before_message_2},
                                 {5e8, before_message_3},
                                 {before_message_2, before_message_3}};
    for (const auto& offset : offsets) {
        ExchangeSetup setup;
        setup.initiator = Device(kInitiator, a, 16442, std::floor(offset[0]), 12.0);
        setup.responder = Device(kResponder, b, 16442, std::floor(offset[1]), -15.0);
        const twr_test::GeneratedExchange exchange = twr_test::Generate(setup);
        const bool wraps =
            std::floor(exchange.a[0] / twr_test::kWrap) != std::floor(exchange.a[2] / twr_test::kWrap) ||
            std::floor(exchange.b[0] / twr_test::kWrap) != std::floor(exchange.b[2] / twr_test::kWrap);
        ASSERT_TRUE(wraps) << "the setup must place a wrap inside the exchange";
        EXPECT_NEAR(RangeOnce(setup), twr_test::Distance(a, b), 0.006);
    }
}

TEST(TwrRanging, HandleClockRolloverUnwrapsThreeSuccessiveTimes) {
    const int64_t wrap = int64_t{1} << 40;
    int64_t t1 = wrap - 10, t2 = 5, t3 = 20;
    TwrSnoopEngine::HandleClockRollover(t1, t2, t3);
    EXPECT_EQ(t2, wrap + 5);
    EXPECT_EQ(t3, wrap + 20);
    t1 = 100, t2 = wrap - 10, t3 = 7;
    TwrSnoopEngine::HandleClockRollover(t1, t2, t3);
    EXPECT_EQ(t2, wrap - 10);
    EXPECT_EQ(t3, wrap + 7);
    t1 = 1, t2 = 2, t3 = 3;
    TwrSnoopEngine::HandleClockRollover(t1, t2, t3);
    EXPECT_EQ(t3, 3);
}

TEST(TwrRanging, ZeroTimeSpansStoreNoDistanceAndPublishNothing) {
    std::mt19937_64 random(4);
    const ExchangeSetup setup = RandomSetup(random, {8, 9, 0}, {5, 5, 0}, {{11, 6, 0}});
    const twr_test::GeneratedExchange exchange = twr_test::Generate(setup);
    const uint16_t initiator_id = setup.initiator.network_id;
    const uint16_t responder_id = setup.responder.network_id;

    // The responder claims one time for all three messages.
    std::vector<derazud_usb_anchor_rpt_t> reports = exchange.reports;
    const uint64_t same = twr_test::Wrap40(exchange.b[0]);
    const uint64_t a0 = twr_test::Wrap40(exchange.a[0]), a1 = twr_test::Wrap40(exchange.a[1]),
                   a2 = twr_test::Wrap40(exchange.a[2]);
    reports[1] = twr_test::MakeReport(setup.responder, same, {{initiator_id, kInitiator, a0, same}});
    reports[2] = twr_test::MakeReport(setup.initiator, a2, {{responder_id, kResponder, same, a1}});
    reports[3] = twr_test::MakeReport(setup.responder, same + 4096, {{initiator_id, kInitiator, a2, same}});
    Harness harness(setup);
    harness.engine.AddTwrSnoopDevices(kInitiator, 0, kResponder, 0);
    harness.Feed(reports);
    harness.engine.RunTwrSnoop(false);
    EXPECT_EQ(harness.Pair(kInitiator, kResponder)->distance, -1.0);
    EXPECT_TRUE(harness.published.empty());

    // The snoop claims one time for all three messages.
    reports = exchange.reports;
    for (int item = 0; item < 3; ++item) {
        SetItemReceiveTime(&reports.back(), item, 123456789);
    }
    Harness snooped(setup);
    snooped.engine.AddTwrSnoopDevices(kInitiator, 0, kResponder, 0);
    snooped.Feed(reports);
    snooped.engine.RunTwrSnoop(false);
    EXPECT_TRUE(TwrSnoopEngine::CanCalculate2DTwrSnoop(snooped.engine.GetPairs().front()));
    EXPECT_TRUE(snooped.published.empty());
}

TEST(TwrRanging, ExtremeAntennaDelaysStayWithinTheClock) {
    std::mt19937_64 random(6);
    const ExchangeSetup setup = RandomSetup(random, {8, 9, 0}, {5, 5, 0}, {{11, 6, 0}});
    Harness harness(setup);
    harness.nodes[kSnoop1].antenna_delay = std::numeric_limits<int32_t>::min();
    harness.engine.AddTwrSnoopDevices(kInitiator, std::numeric_limits<int32_t>::min(), kResponder,
                                      std::numeric_limits<int32_t>::max());
    harness.Feed(twr_test::Generate(setup).reports);
    harness.engine.RunTwrSnoop(false);
    const double distance = harness.engine.GetPairs().front()->distance;
    EXPECT_TRUE(distance == -1.0 || (std::isfinite(distance) && distance >= 0.0));
}

TEST(TwrRanging, ItemsWithoutSerialNumbersAreResolvedThroughTheNetworkId) {
    std::mt19937_64 random(3);
    ExchangeSetup setup = RandomSetup(random, {0, 0, 1}, {4, 3, 1}, {});
    setup.item_serials = false;
    std::vector<derazud_usb_anchor_rpt_t> reports = twr_test::Generate(setup).reports;
    for (auto& report : reports) {
        report.anchor_rpt.serial_number = 0;
    }
    Harness harness(setup);
    harness.engine.AddTwrDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                 setup.responder.antenna_delay);
    harness.Feed(reports);
    harness.engine.RunTwrSnoop(false);
    EXPECT_NEAR(harness.engine.GetPairs().front()->distance, 5.0, 0.006);
}

TEST(TwrRanging, ACounterOutsideTheExchangeStartsANewOne) {
    std::mt19937_64 random(5);
    const ExchangeSetup setup = RandomSetup(random, {0, 0, 0}, {2, 0, 0}, {{1, 1, 0}});
    const auto reports = twr_test::Generate(setup).reports;
    Harness harness(setup);
    harness.engine.AddTwrSnoopDevices(kInitiator, 0, kResponder, 0);
    // Each report's counter becomes the pair's: 10, 11, 12 make one exchange.
    harness.engine.AddData(&reports[1], 10, 1);
    harness.engine.AddData(&reports[2], 11, 1);
    harness.engine.AddData(&reports[3], 12, 1);
    TWR_DATA_T* pair = harness.engine.GetPairs().front();
    EXPECT_EQ(pair->exchange_counter, 12);
    EXPECT_TRUE(TwrSnoopEngine::CanCalculateTWR(pair));
    // A snoop's report at any counter neither restarts nor moves it.
    harness.engine.AddData(&reports[4], 50, 1);
    EXPECT_EQ(pair->exchange_counter, 12);
    EXPECT_TRUE(TwrSnoopEngine::CanCalculate2DTwrSnoop(pair));
    harness.engine.AddData(&reports[0], 13, 1);
    EXPECT_EQ(pair->messages, 3);
    harness.engine.AddData(&reports[0], 15, 1);
    EXPECT_EQ(pair->exchange_counter, 15);
    EXPECT_EQ(pair->messages, 0);
    EXPECT_FALSE(TwrSnoopEngine::CanCalculateTWR(pair));
}

TEST(TwrRanging, AMessageListReachingSixLosesItsOldest) {
    TwrSnoopEngine engine;
    engine.AddTwrSnoopDevices(kInitiator, 0, kResponder, 0);
    // A snoop hears seven messages of A: the first three fill the empty
    // messages, the next two are appended, the sixth and the seventh each
    // bring the lists to six, and the oldest goes.
    std::vector<twr_test::Reception> heard;
    for (uint64_t m = 1; m <= 7; ++m) {
        heard.push_back(twr_test::Reception{2, kInitiator, m * 512, m * 1000});
    }
    const auto report = twr_test::MakeReport(Device(kSnoop1, {0, 0, 0}, 0, 0, 0), 0x1000, heard);
    engine.AddData(&report, 1, 1);
    const TWR_DATA_T* pair = engine.GetPairs().front();
    std::vector<int64_t> kept;
    for (const SNOOP_DATA_T& message : pair->messages_at_a) {
        kept.push_back(message.timestamp);
    }
    EXPECT_EQ(kept, (std::vector<int64_t>{3 * 512, 4 * 512, 5 * 512, 6 * 512, 7 * 512}));
    EXPECT_EQ(pair->messages_at_b.size(), 5);
    EXPECT_EQ(pair->messages_at_a.back().listeners.value(kSnoop1).receive_time, 7000);
}

TEST(TwrPairs, SelfPairsInvalidSerialsAndRepeatsAreHandled) {
    TwrSnoopEngine engine;
    engine.AddTwrDevices(kInitiator, 1, kInitiator, 1);
    engine.AddTwrDevices(0, 1, kResponder, 1);
    engine.AddTwrDevices(kInitiator, 1, 0xFFFFFFFF, 1);
    EXPECT_TRUE(engine.GetPairs().isEmpty());

    engine.AddTwrDevices(kInitiator, 11, kResponder, 22);
    engine.AddTwrDevices(kResponder, 33, kInitiator, 44);
    ASSERT_EQ(engine.GetPairs().size(), 1);
    const TWR_DATA_T* pair = engine.GetPairs().front();
    EXPECT_FALSE(pair->snoop_pair);
    EXPECT_EQ(pair->antenna_delay_a, 11);
    EXPECT_EQ(pair->messages_at_a.size(), 3);
    EXPECT_EQ(pair->distance, -1.0);
    EXPECT_EQ(pair->exchange_counter, -5);

    engine.AddTwrSnoopDevices(kResponder, 0, kInitiator, 0);
    ASSERT_EQ(engine.GetPairs().size(), 1);
    EXPECT_TRUE(pair->snoop_pair);
    EXPECT_EQ(pair->serial_a, kInitiator);

    engine.Clear();
    EXPECT_TRUE(engine.GetPairs().isEmpty());
    EXPECT_EQ(TwrSnoopEngine::Instance(), TwrSnoopEngine::Instance());
    EXPECT_NE(TwrSnoopEngine::Instance(), &engine);
    // Records left at destruction are freed by the engine (the leak checker
    // of the sanitizer build watches this).
    engine.AddTwrSnoopDevices(kSnoop1, 0, kResponder, 0);
}

class TwrSnoopPosition : public ::testing::Test {
  protected:
    // Locates the initiator at `initiator` around a responder at `responder`
    // with the snoops given; returns the positions published.
    std::vector<Published> Locate(Point initiator, Point responder, std::vector<Point> snoops, bool three_d,
                                  uint64_t seed, std::string* printed = nullptr) {
        std::mt19937_64 random(seed);
        const ExchangeSetup setup = RandomSetup(random, initiator, responder, snoops);
        Harness harness(setup);
        harness.engine.AddTwrSnoopDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                          setup.responder.antenna_delay);
        if (bounded_) {
            harness.engine.SetMinBounds(min_);
            harness.engine.SetMaxBounds(max_);
        }
        StdoutCapture capture;
        harness.Feed(twr_test::Generate(setup).reports);
        harness.engine.RunTwrSnoop(three_d);
        const std::string text = capture.Stop();
        if (printed != nullptr) {
            *printed = text;
        }
        return harness.published;
    }

    void Bound(QVector3D min, QVector3D max) {
        bounded_ = true;
        min_ = min;
        max_ = max;
    }

  private:
    bool bounded_ = false;
    QVector3D min_, max_;
};

TEST_F(TwrSnoopPosition, TwoDimensionsWithTheSnoopOnEitherSideOfTheResponder) {
    const Point responder{5.0, 5.0, 0.0};
    // The initiator lies counter-clockwise of the snoop's bearing from the
    // responder, where the solution is taken.
    const struct {
        Point snoop;
        Point initiator;
    } cases[] = {
        {{11.0, 6.0, 0.0}, {8.0, 9.0, 0.0}},  // snoop at larger x
        {{-1.0, 4.0, 0.0}, {2.0, 1.5, 0.0}},  // snoop at smaller x
        {{1.0, 9.0, 0.0}, {1.5, 4.0, 0.0}},   // smaller x, above
        {{6.0, -2.0, 0.0}, {9.0, 3.0, 0.0}},  // below
    };
    uint64_t seed = 40;
    for (const auto& c : cases) {
        const auto published = Locate(c.initiator, responder, {c.snoop}, false, ++seed);
        ASSERT_EQ(published.size(), 1u);
        EXPECT_EQ(published[0].serial, kInitiator);
        const Point found = PublishedPoint(published[0]);
        EXPECT_LT(twr_test::Distance(found, c.initiator), 0.03)
            << "snoop at " << c.snoop.x << "," << c.snoop.y << ": " << found.x << "," << found.y;
        EXPECT_EQ(published[0].position.z, 0);
        EXPECT_EQ(published[0].position.error, 0);
    }
}

TEST_F(TwrSnoopPosition, ThreeDimensionsWithThreeSnoopsOnEitherSideOfThePlaneOfTwo) {
    const Point responder{1.0, 1.0, 2.5};
    const std::vector<Point> snoops = {{6.0, 1.0, 2.5}, {1.0, 7.0, 2.0}, {6.0, 7.0, 0.3}};
    const Point initiators[] = {{3.2, 4.1, 1.0}, {4.0, 2.5, 3.9}, {2.0, 5.5, 0.2}};
    uint64_t seed = 60;
    for (const Point& initiator : initiators) {
        const auto published = Locate(initiator, responder, snoops, true, ++seed);
        ASSERT_EQ(published.size(), 1u);
        const Point found = PublishedPoint(published[0]);
        EXPECT_LT(twr_test::Distance(found, initiator), 0.02)
            << initiator.x << "," << initiator.y << "," << initiator.z << " found " << found.x << ","
            << found.y << "," << found.z;
    }
}

TEST_F(TwrSnoopPosition, ThreeDimensionsRefusesSnoopsInLineWithTheResponder) {
    std::string printed;
    const auto published =
        Locate({3, 4, 1}, {0, 0, 2}, {{4, 0, 2}, {-3, 0, 2}, {9, 0, 2}}, true, 7, &printed);
    EXPECT_TRUE(published.empty());
    EXPECT_NE(printed.find(
                  "Could not find enough Snoops for 3D. Are all of your Snoops on a straight line with the "
                  "Master?"),
              std::string::npos);
}

TEST_F(TwrSnoopPosition, SolutionsOutsideTheBoundsAreHeldOnThem) {
    const Point initiator{8.0, 9.0, 0.0};
    Bound(QVector3D(0, 0, 0), QVector3D(7.0f, 20.0f, 3.0f));
    auto published = Locate(initiator, {5, 5, 0}, {{11, 6, 0}}, false, 9);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].position.x, 7000);
    EXPECT_NEAR(Millimetres(published[0].position.y), 9.0, 0.03);

    Bound(QVector3D(8.5f, 9.5f, 1.0f), QVector3D(20, 20, 20));
    published = Locate(initiator, {5, 5, 0}, {{11, 6, 0}}, false, 9);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].position.x, 8500);
    EXPECT_EQ(published[0].position.y, 9500);
    EXPECT_EQ(published[0].position.z, 1000);

    // Held on a point: millimetres are (metres + 0.0005) x 1000 truncated
    // towards zero, of the float coordinates (1.2344f is 1.23440003...).
    const struct {
        QVector3D at;
        int32_t x, y, z;
    } points[] = {{{1.2344f, -2.0f, -1.2346f}, 1234, -1999, -1234}, {{1.2348f, 0.0f, 0.0f}, 1235, 0, 0}};
    for (const auto& point : points) {
        Bound(point.at, point.at);
        published = Locate(initiator, {5, 5, 0}, {{11, 6, 0}}, false, 9);
        ASSERT_EQ(published.size(), 1u);
        EXPECT_EQ(published[0].position.x, point.x);
        EXPECT_EQ(published[0].position.y, point.y);
        EXPECT_EQ(published[0].position.z, point.z);
    }
}

TEST_F(TwrSnoopPosition, WithoutBoundsNothingIsHeld) {
    const auto published = Locate({-8.0, -9.0, 0.0}, {-5, -5, 0}, {{-11, -6, 0}}, false, 21);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_NEAR(Millimetres(published[0].position.x), -8.0, 0.03);
    EXPECT_NEAR(Millimetres(published[0].position.y), -9.0, 0.03);
}

TEST(TwrSnoopOrder, TheResultDoesNotDependOnTheOrderOfTheReports) {
    std::mt19937_64 random(99);
    const ExchangeSetup setup = RandomSetup(random, {3.2, 4.1, 1.0}, {1.0, 1.0, 2.5},
                                            {{6.0, 1.0, 2.5}, {1.0, 7.0, 2.0}, {6.0, 7.0, 0.3}});
    std::vector<derazud_usb_anchor_rpt_t> reports = twr_test::Generate(setup).reports;
    std::map<bool, std::vector<int32_t>> expected;
    for (int permutation = 0; permutation < 40; ++permutation) {
        for (bool three_d : {false, true}) {
            Harness harness(setup);
            harness.engine.AddTwrSnoopDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                              setup.responder.antenna_delay);
            harness.Feed(reports);
            harness.engine.RunTwrSnoop(three_d);
            ASSERT_EQ(harness.published.size(), 1u) << "permutation " << permutation;
            const vex_data_position_t& p = harness.published[0].position;
            const std::vector<int32_t> result = {p.x, p.y, p.z};
            if (expected.count(three_d) == 0) {
                expected[three_d] = result;
            } else {
                EXPECT_EQ(expected[three_d], result) << "permutation " << permutation << " 3-D " << three_d;
            }
        }
        std::shuffle(reports.begin(), reports.end(), random);
    }
    EXPECT_NE(expected[false], expected[true]);
}

TEST(TwrSnoopDistance, TheSnoopsOwnRangingWithTheResponderReplacesTheGeometry) {
    std::mt19937_64 random(123);
    const Point initiator{8.0, 9.0, 0.0};
    const Point snoop{11.0, 6.0, 0.0};
    const ExchangeSetup setup = RandomSetup(random, initiator, {5.0, 5.0, 0.0}, {snoop});
    Harness harness(setup);
    harness.engine.AddTwrSnoopDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                      setup.responder.antenna_delay);
    harness.Feed(twr_test::Generate(setup).reports);
    TWR_DATA_T* pair = harness.Pair(kInitiator, kResponder);
    TwrSnoopEngine::Exchange exchange;
    double d = 0.0;
    ASSERT_TRUE(TwrSnoopEngine::FindExchange(pair, &exchange));
    ASSERT_TRUE(harness.engine.CalculateTWR(pair, &d));
    auto snoop_range = [&](double s) {
        double r = -1.0;
        EXPECT_TRUE(harness.engine.CalculateSnoopTagDistance(pair, exchange, d, s, kSnoop1, &r));
        return r;
    };
    const double geometric_s = std::sqrt(37.0);
    const double plain = snoop_range(geometric_s);
    EXPECT_NEAR(plain, twr_test::Distance(initiator, snoop), 0.015);

    // A pair that merely begins with the snoop says nothing about s.
    harness.engine.AddTwrDevices(kSnoop1, 0, 0x01000077, 0);
    harness.Pair(kSnoop1, 0x01000077)->distance = 40.0;
    EXPECT_DOUBLE_EQ(snoop_range(geometric_s), plain);
    // The snoop's own pair with the responder does, in either order.
    harness.engine.AddTwrDevices(kResponder, 0, kSnoop1, 0);
    harness.Pair(kResponder, kSnoop1)->distance = 7.0;
    EXPECT_NEAR(snoop_range(geometric_s), plain - geometric_s + 7.0, 1e-9);
    harness.engine.Clear();
    harness.engine.AddTwrSnoopDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                      setup.responder.antenna_delay);
    harness.engine.AddTwrDevices(kSnoop1, 0, kResponder, 0);
    harness.Pair(kSnoop1, kResponder)->distance = 6.5;
    harness.Feed(twr_test::Generate(setup).reports);
    pair = harness.Pair(kInitiator, kResponder);
    ASSERT_TRUE(TwrSnoopEngine::FindExchange(pair, &exchange));
    EXPECT_NEAR(snoop_range(geometric_s), plain - geometric_s + 6.5, 1e-9);
}

TEST(TwrSnoopDistance, MissingAntennaDelayFallsBackToTheDefaultWithAMessage) {
    std::mt19937_64 random(8);
    ExchangeSetup setup = RandomSetup(random, {8, 9, 0}, {5, 5, 0}, {{11, 6, 0}});
    setup.snoops[0].antenna_delay = 16442;
    Harness harness(setup);
    harness.nodes[kSnoop1].has_antenna_delay = false;
    harness.engine.AddTwrSnoopDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                      setup.responder.antenna_delay);
    StdoutCapture capture;
    harness.Feed(twr_test::Generate(setup).reports);
    harness.engine.RunTwrSnoop(false);
    const std::string printed = capture.Stop();
    EXPECT_NE(printed.find(
                  "TwrSnoopEngine: Could Not Find Snoop Antenna Delay for device 01:00:0004. Using Default "
                  "Antenna Delay\n"),
              std::string::npos);
    ASSERT_EQ(harness.published.size(), 1u);
    EXPECT_LT(twr_test::Distance(PublishedPoint(harness.published[0]), {8, 9, 0}), 0.03);
}

TEST(TwrSnoopPublish, NonFinitePositionsAreNeverPublished) {
    std::mt19937_64 random(31);
    const ExchangeSetup setup = RandomSetup(random, {8, 9, 0}, {5, 5, 0}, {{11, 6, 0}});
    Harness harness(setup);
    harness.nodes[kResponder].position = QVector3D(std::nanf(""), 5.0f, 0.0f);
    harness.engine.AddTwrSnoopDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                      setup.responder.antenna_delay);
    harness.Feed(twr_test::Generate(setup).reports);
    harness.engine.RunTwrSnoop(false);
    harness.engine.RunTwrSnoop(true);
    EXPECT_TRUE(harness.published.empty());
}

TEST(TwrSnoopPublish, ItemsPastTheReportsPayloadAreNotRead) {
    std::mt19937_64 random(32);
    const ExchangeSetup setup = RandomSetup(random, {8, 9, 0}, {5, 5, 0}, {{11, 6, 0}});
    auto reports = twr_test::Generate(setup).reports;
    // The snoop's report ends after its first item; the bytes of the items on
    // messages 2 and 3 stay in the record behind its payload.
    reports.back().anchor_rpt.payload_length =
        static_cast<uint16_t>(twr_test::kFirstItemOffset + kCompactItemSize);
    Harness harness(setup);
    harness.engine.AddTwrSnoopDevices(kInitiator, setup.initiator.antenna_delay, kResponder,
                                      setup.responder.antenna_delay);
    harness.Feed(reports);
    harness.engine.RunTwrSnoop(false);
    EXPECT_TRUE(harness.published.empty());
    TWR_DATA_T* pair = harness.engine.GetPairs().front();
    EXPECT_TRUE(TwrSnoopEngine::CanCalculateTWR(pair));
    EXPECT_FALSE(TwrSnoopEngine::CanCalculate2DTwrSnoop(pair));

    // The whole report gives the position.
    reports.back().anchor_rpt.payload_length =
        static_cast<uint16_t>(twr_test::kFirstItemOffset + 3 * kCompactItemSize);
    harness.Feed(reports);
    harness.engine.RunTwrSnoop(false);
    EXPECT_EQ(harness.published.size(), 1u);
}

TEST(TwrSignal, ReceivePowersAndTheirDifference) {
    derazud_anchor_rpt_item_t item{};
    item.header.signal_strength = signal_strength_t{10000, 10000, 10000, 1000, 2000, 0};
    EXPECT_NEAR(TwrSnoopEngine::CalculateFirstPathDb(&item), 10 * std::log10(3e8 / 1e6) - 115.72, 1e-9);
    EXPECT_NEAR(TwrSnoopEngine::CalculateTotalPathDb(&item), 10 * std::log10(2000 * 131072.0 / 1e6) - 115.72,
                1e-9);

    ANCHOR_RX_DATA_T reception{0, -80.0, -77.5};
    EXPECT_DOUBLE_EQ(TwrSnoopEngine::GetSignalQualityDiff(reception), 2.5);
    reception.total_receive_power = -85.0;
    EXPECT_EQ(TwrSnoopEngine::GetSignalQualityDiff(reception), 60.0);

    // Zero amplitudes or a zero accumulation count give no power, and the
    // worst difference.
    item.header.signal_strength = signal_strength_t{0, 0, 0, 1000, 0, 0};
    EXPECT_TRUE(std::isnan(TwrSnoopEngine::CalculateFirstPathDb(&item)));
    EXPECT_TRUE(std::isnan(TwrSnoopEngine::CalculateTotalPathDb(&item)));
    item.header.signal_strength = signal_strength_t{10, 10, 10, 0, 10, 0};
    EXPECT_TRUE(std::isnan(TwrSnoopEngine::CalculateFirstPathDb(&item)));
    reception = ANCHOR_RX_DATA_T{0, TwrSnoopEngine::CalculateFirstPathDb(&item),
                                 TwrSnoopEngine::CalculateTotalPathDb(&item)};
    EXPECT_EQ(TwrSnoopEngine::GetSignalQualityDiff(reception), 60.0);
}

// Writes the libFuzzer seeds of twr_snoop_fuzz from generated exchanges:
//   VORAV_TWR_SEED_DIR=fuzz/corpus/twr_snoop dpu_twr_snoop_engine_test
//   --gtest_also_run_disabled_tests --gtest_filter='*WriteFuzzSeeds'
// The record layout is described in fuzz/twr_snoop_fuzz.cpp.
TEST(TwrSnoopCorpus, DISABLED_WriteFuzzSeeds) {
    const char* directory = std::getenv("VORAV_TWR_SEED_DIR");
    ASSERT_NE(directory, nullptr);
    std::mt19937_64 random(2024);
    const struct {
        const char* name;
        size_t snoops;
        bool shuffle;
    } seeds[] = {
        {"exchange_two_d", 1, false}, {"exchange_three_d", 3, false}, {"exchange_shuffled", 3, true}};
    const std::vector<Point> snoop_points = {{6.0, 1.0, 2.5}, {1.0, 7.0, 2.0}, {6.0, 7.0, 0.3}};
    for (const auto& seed : seeds) {
        ExchangeSetup setup = RandomSetup(
            random, {3.2, 4.1, 1.0}, {1.0, 1.0, 2.5},
            std::vector<Point>(snoop_points.begin(), snoop_points.begin() + static_cast<long>(seed.snoops)));
        auto reports = twr_test::Generate(setup).reports;
        if (seed.shuffle) {
            std::shuffle(reports.begin(), reports.end(), random);
        }
        std::vector<uint8_t> bytes;
        for (const auto& report : reports) {
            uint8_t buffer[4096];
            const int length = DerAzudUsbAnchorRpt_ToBuff(buffer, &report, sizeof(buffer));
            ASSERT_GT(length, 0);
            bytes.push_back(0);
            bytes.push_back(7);
            bytes.push_back(static_cast<uint8_t>(length >> 8));
            bytes.push_back(static_cast<uint8_t>(length));
            bytes.insert(bytes.end(), buffer, buffer + length);
        }
        bytes.push_back(1);
        bytes.push_back(2);
        if (seed.shuffle) {
            // The last snoop's report again, as a record claiming the largest payload length.
            const derazud_usb_anchor_rpt_t& snoop = reports.back();
            const uint8_t head[] = {
                3, 7, 0xFF, 0xFF, 0, static_cast<uint8_t>(snoop.anchor_rpt.report.network_id), 0, 0, 0, 0};
            bytes.insert(bytes.end(), head, head + sizeof(head));
            bytes.insert(bytes.end(), snoop.anchor_rpt.payload,
                         snoop.anchor_rpt.payload + snoop.anchor_rpt.payload_length);
        }
        std::ofstream out(std::string(directory) + "/" + seed.name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

}  // namespace
