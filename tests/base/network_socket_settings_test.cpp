#include "base/network_socket_settings.h"

#include <gtest/gtest.h>

#include "support/stdout_capture.h"

namespace {

NetworkSocketSettings Reference() {
    return NetworkSocketSettings("239.255.76.67", 7667, 1, "lo");
}

TEST(NetworkSocketSettingsTest, ConstructorKeepsTheFourValuesInOrder) {
    NetworkSocketSettings socket("239.1.2.3", 7670, 5, "eth0.12");
    EXPECT_EQ(socket.GetAddress(), "239.1.2.3");
    EXPECT_EQ(socket.GetPort(), 7670);
    EXPECT_EQ(socket.GetTtl(), 5);
    EXPECT_EQ(socket.GetNetworkIface(), "eth0.12");
}

TEST(NetworkSocketSettingsTest, SettersReplaceEachField) {
    NetworkSocketSettings socket = Reference();
    socket.SetAddress("224.0.0.1");
    socket.SetPort(65535);
    socket.SetTtl(255);
    socket.SetNetworkIface("eth1");
    EXPECT_EQ(socket.GetAddress(), "224.0.0.1");
    EXPECT_EQ(socket.GetPort(), 65535);
    EXPECT_EQ(socket.GetTtl(), 255);
    EXPECT_EQ(socket.GetNetworkIface(), "eth1");
}

TEST(NetworkSocketSettingsTest, EqualWhenAllFourFieldsMatch) {
    EXPECT_TRUE(Reference() == Reference());
    EXPECT_FALSE(Reference() != Reference());
}

TEST(NetworkSocketSettingsTest, EachFieldTakesPartInEquality) {
    NetworkSocketSettings address = Reference();
    address.SetAddress("239.255.76.68");
    NetworkSocketSettings port = Reference();
    port.SetPort(7668);
    NetworkSocketSettings ttl = Reference();
    ttl.SetTtl(2);
    NetworkSocketSettings iface = Reference();
    iface.SetNetworkIface("eth0");
    for (const NetworkSocketSettings& other : {address, port, ttl, iface}) {
        EXPECT_FALSE(Reference() == other);
        EXPECT_TRUE(Reference() != other);
    }
}

TEST(NetworkSocketSettingsTest, InterfaceNamesCompareByteForByte) {
    NetworkSocketSettings upper = Reference();
    upper.SetNetworkIface("LO");
    EXPECT_FALSE(Reference() == upper);
    NetworkSocketSettings with_nul = Reference();
    with_nul.SetNetworkIface(std::string("lo\0x", 4));
    EXPECT_FALSE(Reference() == with_nul);
}

TEST(NetworkSocketSettingsTest, PrintWritesTheUrlAndInterface) {
    StdoutCapture capture;
    ASSERT_TRUE(capture.IsActive());
    NetworkSocketSettings("239.255.76.67", 65535, 300, "eth0").Print();
    EXPECT_EQ(capture.Stop(), "udpm://239.255.76.67:65535?ttl=300 on <eth0>\n");
}

}  // namespace
