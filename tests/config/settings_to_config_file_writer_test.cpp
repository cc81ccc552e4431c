#include "config/settings_to_config_file_writer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <string>

#include "config/settings.h"
#include "config/settings_to_json_converter.h"
#include "support/stdout_capture.h"

namespace {

class SettingsToConfigFileWriterTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(directory_.isValid()); }

    std::string PathOf(const char* name) { return directory_.filePath(name).toStdString(); }

    QByteArray ReadFile(const std::string& path) {
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
        return file.readAll();
    }

    bool Write(const std::string& path, std::string* printed) {
        StdoutCapture capture;
        const bool written = SettingsToConfigFileWriter().WriteSettingsToJsonFile(&settings_, path);
        *printed = capture.Stop();
        return written;
    }

    QTemporaryDir directory_;
    Settings settings_;
};

}  // namespace

TEST_F(SettingsToConfigFileWriterTest, WritesIndentedSortedJsonOfTheSettings) {
    TagSettings tag;
    tag.SetSerialNumber(0x01010021);
    settings_.GetRfNetworkSettingsReference()->AddTag(tag);
    const std::string path = PathOf("site.cfg");
    std::string printed;
    ASSERT_TRUE(Write(path, &printed));
    EXPECT_EQ(printed, "");

    const QByteArray text = ReadFile(path);
    const QJsonObject expected = SettingsToJsonConverter().ConvertSettingsToJson(&settings_);
    EXPECT_EQ(text, QJsonDocument(expected).toJson(QJsonDocument::Indented));
    // Four blanks per level, a blank after each colon, keys in ascending order.
    EXPECT_TRUE(text.startsWith("{\n    \"host\": {\n        \"algorithm\": \"\",\n"))
        << text.left(80).data();
    EXPECT_LT(text.indexOf("\"host\""), text.indexOf("\"network\""));
    EXPECT_LT(text.indexOf("\"network\""), text.indexOf("\"vsn\": 3"));
    EXPECT_NE(text.indexOf("\"serial number\": \"01:01:0021\""), -1);
}

TEST_F(SettingsToConfigFileWriterTest, ReplacesTheWholeOfALongerFile) {
    const std::string path = PathOf("old.cfg");
    {
        QFile old(QString::fromStdString(path));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
    }
    std::string printed;
    ASSERT_TRUE(Write(path, &printed));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(ReadFile(path), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_EQ(document.object()["vsn"], QJsonValue(3));
}

TEST_F(SettingsToConfigFileWriterTest, FailureIsReturnedAndNamesThePath) {
    const std::string path = PathOf("missing/dir/site.cfg");
    std::string printed;
    EXPECT_FALSE(Write(path, &printed));
    EXPECT_EQ(printed, "Config: unable to write configuration file " + path + "\n");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));

    // A directory in place of the file cannot be written either.
    EXPECT_FALSE(Write(directory_.path().toStdString(), &printed));
    EXPECT_EQ(printed,
              "Config: unable to write configuration file " + directory_.path().toStdString() + "\n");
}

TEST_F(SettingsToConfigFileWriterTest, FullDeviceIsReportedAsFailure) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this system";
    std::string printed;
    EXPECT_FALSE(Write("/dev/full", &printed));
    EXPECT_EQ(printed, "Config: unable to write configuration file /dev/full\n");
}
