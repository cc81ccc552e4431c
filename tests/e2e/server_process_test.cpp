// The server end to end, as a user runs it: the device simulator and
// vorav-server as processes of their own on a site that mixes every way a
// device reaches the server (USB anchors on pseudo-terminals, an Ethernet
// anchor that announces itself, wireless anchors whose reports come through
// the master), judged from the outside on the External stream against the
// simulator's truth stream. A termination signal while positions flow, and
// the quit timer while the master is being brought up, both end the run with
// the shut-down lines in order, the master stopped (it acknowledges the stop
// at once) and exit code 0, and leave the configuration file as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "e2e/server_site.h"

namespace {

using namespace e2e;
using namespace std::chrono_literals;

constexpr uint32_t kMaster = 0x01000001;
constexpr uint32_t kUsbAnchorA = 0x01000011;
constexpr uint32_t kUsbAnchorB = 0x01000012;
constexpr uint32_t kWirelessAnchorA = 0x01000014;
constexpr uint32_t kWirelessAnchorB = 0x01000015;
constexpr uint32_t kStandingTagA = 0x01010021;
constexpr uint32_t kStandingTagB = 0x01010022;
constexpr uint32_t kMovingTag = 0x01010023;

// Positions judged after the first ones of each tag: the smoothing starts
// from the tag's initial position.
constexpr size_t kSkippedPositions = 40;
constexpr size_t kJudgedPositions = 30;

// Seen from the tags, the anchors' heights differ little, so each solver
// step closes only a small part of a height error. With the default
// "vm min stop" (5 mm) a solve stops after a step or a few with the height
// still decimetres off, and the height creeps in by a few millimetres per
// position from wherever the first solves left it: on a loaded machine a tag
// once stayed some 0.45 m high over all the judged positions. A stop
// threshold of 0.1 mm lets every solve run its full iterations, so the judged
// positions do not depend on how the first reports came in.
constexpr double kMinStopThresholdM = 0.0001;

// On a standing tag the engine reaches some 15 mm horizontally and 50 to
// 60 mm in 3-D with 20 mm of timestamp noise; the moving tag (0.3 m/s) trails
// its true position by the smoothing's lag, some 50 mm.
constexpr double kStandingHorizontalRmsMm = 40.0;
constexpr double kStandingSpatialRmsMm = 120.0;
constexpr double kMovingHorizontalMedianMm = 150.0;

site_t MixedSite() {
    site_t site;
    site.stream_port = 45410;
    site.vm_min_stop_m = kMinStopThresholdM;
    site.master = {kMaster, Link::kUsb, 5, 0, 2.0};
    site.anchors = {{kUsbAnchorA, Link::kUsb, 0, 0, 2.5},
                    {kUsbAnchorB, Link::kUsb, 10, 8, 2.5},
                    {ProcessEthernetSerial(), Link::kEthernet, 10, 0, 0.6},
                    {kWirelessAnchorA, Link::kAir, 0, 8, 0.6},
                    {kWirelessAnchorB, Link::kAir, 5, 8, 1.8}};
    site.tags = {{kStandingTagA, 3.0, 3.0, 1.0, false},
                 {kStandingTagB, 7.0, 5.0, 1.4, false},
                 {kMovingTag, 6.5, 4.0, 1.2, true}};
    return site;
}

class ServerProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(files_.Write(site_, &error)) << error;
        simulator_ = files_.StartSimulator(&error);
        ASSERT_TRUE(simulator_) << error;
    }

    void TearDown() override {
        if (simulator_) {
            simulator_->Signal(SIGTERM);
            EXPECT_EQ(simulator_->Finish(), 0) << simulator_->Output();
            EXPECT_FALSE(HasSanitizerReport(simulator_->Output())) << simulator_->Output();
        }
        EXPECT_EQ(ReadFile(files_.ConfigPath()), files_.ConfigText())
            << "the run changed the configuration file";
    }

    // A run that stopped with the master running: the master answered the
    // stop within the attempts the engine makes.
    static void ExpectOrderedShutDown(const std::string& output, std::vector<std::string> lines) {
        for (const char* line : {"host shutting down...\n", "DPU: de-configuring master node...\n",
                                 "NodeLink: Device 01:00:0001 No Longer Sending Syncs\n",
                                 "Master Deconfigured.\n", "Waiting for the host thread to finish...\n"})
            lines.push_back(line);
        const std::vector<size_t> positions = Positions(output, lines);
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_NE(positions[i], std::string::npos) << "missing or out of order: " << lines[i] << output;
        EXPECT_EQ(output.find("Timed out trying to deconfigure the Master"), std::string::npos) << output;
        EXPECT_FALSE(HasSanitizerReport(output)) << output;
    }

    const site_t site_ = MixedSite();
    SiteFiles files_;
    std::unique_ptr<ChildProcess> simulator_;
};

TEST_F(ServerProcessTest, EveryTagIsLocatedThroughEveryKindOfLinkUntilSigterm) {
    Listener listener(site_.stream_port, kSkippedPositions);
    ChildProcess server(kServer, {"--host-only", "-c", files_.ConfigPath()}, files_.ChildOptions());
    ASSERT_TRUE(server.Started());

    const bool located = listener.WaitForJudged(site_, kJudgedPositions, 90s);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Finish(), 0) << server.Output();
    EXPECT_TRUE(located) << server.Output();
    ExpectOrderedShutDown(server.Output(), {"initializing the host...\n", "host started\n", "\n"});

    const std::map<uint32_t, position_error_summary_t> summaries = listener.Summaries();
    for (const tag_t& tag : site_.tags) {
        ASSERT_EQ(summaries.count(tag.serial_number), 1u) << std::hex << tag.serial_number;
        const position_error_summary_t& summary = summaries.at(tag.serial_number);
        PrintSummary(summary);
        if (tag.moving) {
            EXPECT_LT(summary.horizontal_median_mm, kMovingHorizontalMedianMm);
        } else {
            EXPECT_LT(summary.horizontal_rms_mm, kStandingHorizontalRmsMm) << std::hex << tag.serial_number;
            EXPECT_LT(summary.spatial_rms_mm, kStandingSpatialRmsMm) << std::hex << tag.serial_number;
        }
    }
    // The solves used the anchors of every kind of link.
    const std::set<uint32_t> anchors = listener.SolvingAnchors();
    printf("receivers in the solves:");
    for (const uint32_t anchor : anchors)
        printf(" %s", SerialNumber_ToString(anchor).c_str());
    printf("\n");
    for (const device_t& anchor : site_.anchors)
        EXPECT_EQ(anchors.count(anchor.serial_number), 1u)
            << SerialNumber_ToString(anchor.serial_number) << "\n"
            << server.Output();
}

TEST_F(ServerProcessTest, QuitTimerEndsARunDuringTheBringUp) {
    ChildProcess server(kServer, {"--host-only", "--time", "8", "--config", files_.ConfigPath()},
                        files_.ChildOptions());
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.Finish(60s), 0) << server.Output();
    // By then the master has been stopped, set up and started on the fast sync.
    ExpectOrderedShutDown(server.Output(),
                          {"host started\n", "Main: Setting up Timer To Shutdown Network after 8 seconds\n",
                           "NodeLink: Device 01:00:0001 Now Sending Syncs\n"});
    EXPECT_EQ(server.Output().find("\n\n"), std::string::npos) << "no signal, no empty line\n"
                                                               << server.Output();
}

}  // namespace
