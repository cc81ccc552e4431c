#include "config/transmit_power.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

namespace {

TEST(TransmitPowerTest, ReadsTextInOrderOfTheThreeForms) {
    EXPECT_EQ(TransmitPower_Create(std::string("0x1f")), 0x1Fu);
    EXPECT_EQ(TransmitPower_Create(std::string("0x1F1F1F1F")), 0x1F1F1F1Fu);
    EXPECT_EQ(TransmitPower_Create(std::string("08080808")), 0x08080808u);
    // Decimal digits are read as hexadecimal by the second form.
    EXPECT_EQ(TransmitPower_Create(std::string("123")), 0x123u);
    // At most eight digits are read without the prefix.
    EXPECT_EQ(TransmitPower_Create(std::string("123456789")), 0x12345678u);
}

TEST(TransmitPowerTest, TextWithoutNumberGivesDefault) {
    EXPECT_EQ(TransmitPower_Create(std::string("")), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(std::string("zz")), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(std::string("0x")), 0u);  // "%8x" reads the 0
    EXPECT_EQ(TransmitPower_Create(std::string(" ")), 0xFF0808FFu);
}

TEST(TransmitPowerTest, LongHexKeepsLowBitsAndStopsAtNul) {
    EXPECT_EQ(TransmitPower_Create(std::string("0x123456789")), 0x23456789u);
    EXPECT_EQ(TransmitPower_Create(std::string("0x1f\0"
                                               "ff",
                                               7)),
              0x1Fu);
    EXPECT_EQ(TransmitPower_Create(std::string("\0"
                                               "0x1f",
                                               5)),
              0xFF0808FFu);
}

TEST(TransmitPowerTest, JsonValues) {
    EXPECT_EQ(TransmitPower_Create(QJsonValue(134744072)), 0x08080808u);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(true)), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(QString("0x1f"))), 0x1Fu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(QString("zz"))), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue()), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(QJsonValue::Undefined)), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(QJsonArray{1})), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(QJsonObject{{"a", 1}})), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(-1)), 0xFFFFFFFFu);
    // Fractions and numbers beyond the signed 32-bit range are not whole int values.
    EXPECT_EQ(TransmitPower_Create(QJsonValue(1.5)), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(4294967295.0)), 0xFF0808FFu);
    EXPECT_EQ(TransmitPower_Create(QJsonValue(1e300)), 0xFF0808FFu);
}

}  // namespace
