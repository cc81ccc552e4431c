#include "base/serial_number.h"

#include <gtest/gtest.h>

#include <QJsonValue>

TEST(SerialNumberParse, AcceptsColonHexAndPrefixedHexForms) {
    EXPECT_EQ(SerialNumber_Create(std::string("01:02:0003")), 0x01020003u);
    EXPECT_EQ(SerialNumber_Create(std::string("1:2:3")), 0x01020003u);
    EXPECT_EQ(SerialNumber_Create(std::string("0x01020003")), 0x01020003u);
    EXPECT_EQ(SerialNumber_Create(std::string("  ab:CD:eF01 trailing")), 0xABCDEF01u);
    EXPECT_EQ(SerialNumber_Create(std::string("ff:FF:ffff")), 0xFFFFFFFFu);
}

TEST(SerialNumberParse, KeepsTheLowThirtyTwoBitsOfLongNumbers) {
    EXPECT_EQ(SerialNumber_Create(std::string("0xFFFFFFFF")), 0xFFFFFFFFu);
    EXPECT_EQ(SerialNumber_Create(std::string("0x123456789")), 0x23456789u);
    EXPECT_EQ(SerialNumber_Create(std::string("4294967297")), 1u);
    EXPECT_EQ(SerialNumber_Create(std::string("-2147483648")), 0x80000000u);
    EXPECT_EQ(SerialNumber_Create(std::string("-1:-1:-1")), 0xFFFFFFFFu);
    EXPECT_EQ(SerialNumber_Create(std::string("+1:+2:+3")), 0x01020003u);
}

TEST(SerialNumberParse, FallsBackToDecimalThenZero) {
    EXPECT_EQ(SerialNumber_Create(std::string("12:34")), 12u);
    EXPECT_EQ(SerialNumber_Create(std::string("16777217")), 0x01000001u);
    EXPECT_EQ(SerialNumber_Create(std::string("-1")), 0xFFFFFFFFu);
    EXPECT_EQ(SerialNumber_Create(std::string("abc")), 0u);
    EXPECT_EQ(SerialNumber_Create(std::string("")), 0u);
    EXPECT_EQ(SerialNumber_Create(std::string("0")), 0u);
}

TEST(SerialNumberParse, JsonStringsParseAndNumbersConvert) {
    EXPECT_EQ(SerialNumber_Create(QJsonValue(16908291)), 0x01020003u);
    EXPECT_EQ(SerialNumber_Create(QJsonValue(QString("01:02:0003"))), 0x01020003u);
    EXPECT_EQ(SerialNumber_Create(QJsonValue(true)), 0u);
    EXPECT_EQ(SerialNumber_Create(QJsonValue(1.5)), 0u);
    EXPECT_EQ(SerialNumber_Create(QJsonValue()), 0u);
    EXPECT_EQ(SerialNumber_Create(QJsonValue(-1)), 0xFFFFFFFFu);
}

TEST(SerialNumberFormat, PrintsTwelveUpperCaseCharacters) {
    EXPECT_EQ(SerialNumber_ToString(0x01020003), "01:02:0003");
    EXPECT_EQ(SerialNumber_ToString(0xABCDEF01), "AB:CD:EF01");
    EXPECT_EQ(SerialNumber_Create(SerialNumber_ToString(0xFEDC0042)), 0xFEDC0042u);
}

TEST(SerialNumberValidity, RejectsZeroAndAllOnes) {
    EXPECT_FALSE(SerialNumber_IsValid(SerialNumber_Create(std::string("ff:FF:ffff"))));
    EXPECT_FALSE(SerialNumber_IsValid(0));
    EXPECT_TRUE(SerialNumber_IsValid(0x01020003));
    EXPECT_EQ(SerialNumber_Create(0x01, 0x02, 0x0003), 0x01020003u);
    EXPECT_EQ(SerialNumber_GetVendorId(0xAABBCCDD), 0xAA);
    EXPECT_EQ(SerialNumber_GetProductId(0xAABBCCDD), 0xBB);
    EXPECT_EQ(SerialNumber_GetDeviceId(0xAABBCCDD), 0xCCDD);
}

TEST(SerialNumberDeviceType, NamesKnownModels) {
    EXPECT_EQ(SerialNumber_GetDeviceTypeString(0x0100ABCD), "VORAV-SMA 1.0.1");
    EXPECT_EQ(SerialNumber_GetDeviceTypeString(0x0101ABCD), "VORAV-Ceramic 1.0.0");
    EXPECT_EQ(SerialNumber_GetDeviceTypeString(0x0102ABCD), "Unknown Device Type");
}
