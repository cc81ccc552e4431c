#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/firmware/cbin_version1_firmware_state.h"
#include "protocol/firmware/null_firmware_file_state.h"
#include "protocol/firmware/rezedor_evoderev_edar.h"
#include "protocol/firmware/rezedor_evoderev_edar_state.h"
#include "protocol/firmware/unwrapped_firmware_state.h"
#include "support/stdout_capture.h"

namespace {

QByteArray Sha1(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

std::string Hex(const QByteArray& bytes) {
    return bytes.toHex().toStdString();
}

// Image bytes that hold no start of a footer anywhere.
QByteArray TestImage(int length) {
    QByteArray image(length, '\0');
    for (int i = 0; i < length; ++i) {
        image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    }
    return image;
}

struct FooterFields {
    uint16_t wrapper_version = 1;
    uint8_t release[4] = {1, 2, 3, 4};
    uint8_t vendor = 0x01;
    uint8_t product = 0x00;
};

// The footer written out byte by byte from the file layout.
QByteArray Footer(const QByteArray& image, const FooterFields& fields) {
    QByteArray footer("VEVURIZ-CBIN");
    footer.append(static_cast<char>(fields.wrapper_version >> 8));
    footer.append(static_cast<char>(fields.wrapper_version & 0xFF));
    footer.append(Sha1(image));
    for (uint8_t number : fields.release) {
        footer.append(static_cast<char>(number));
    }
    footer.append(static_cast<char>(fields.vendor));
    footer.append(static_cast<char>(fields.product));
    footer.append(QByteArray(216, '\x5A'));
    EXPECT_EQ(footer.size(), 256);
    return footer;
}

// The stand-in raw image of a table row: a line that says it is a stand-in and
// names the release, repeated (as tools/make_firmware_table_images.py writes it).
QByteArray TableImage(const char* text, int repeats) {
    return QByteArray("Vorav stand-in test image, not device firmware: ")
        .append(text)
        .append('\n')
        .repeated(repeats);
}

class FirmwareImageTest : public ::testing::Test {
  protected:
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        EXPECT_EQ(out.write(bytes), bytes.size());
        return path;
    }

    // Loads a file and returns what it printed while loading.
    std::unique_ptr<RezedorEvoderevEdar> Load(const QString& path, std::string* printed = nullptr) {
        StdoutCapture capture;
        auto file = std::make_unique<RezedorEvoderevEdar>(path);
        const std::string text = capture.Stop();
        if (printed != nullptr) {
            *printed = text;
        }
        return file;
    }

    std::unique_ptr<RezedorEvoderevEdar> LoadWrapped(const QString& name, const QByteArray& image,
                                                     const FooterFields& fields,
                                                     std::string* printed = nullptr) {
        return Load(WriteFile(name, image + Footer(image, fields)), printed);
    }

    static void ExpectNullAnswers(RezedorEvoderevEdar* file) {
        RezedorEvoderevEdarState* state = file->GetState();
        EXPECT_EQ(state, NullFirmwareFileState::Instance());
        EXPECT_EQ(state->GetWrapperVersion(file), 0xFFFFFFFFu);
        EXPECT_EQ(state->GetVersionNumber(file), 0xFFFFFFFFu);
        EXPECT_EQ(state->GetTargetHardware(file), 0xFFFFFFFFu);
        EXPECT_EQ(state->GetVersionString(file), "");
        EXPECT_TRUE(state->GetFirmware(file).isEmpty());
        EXPECT_TRUE(state->GetSha1Hash(file).isEmpty());
        EXPECT_EQ(file->GetVersionString(), "");
    }

    QTemporaryDir dir_;
};

}  // namespace

TEST_F(FirmwareImageTest, WrappedImageLoadsAndPrintsItsReport) {
    const QByteArray image = TestImage(1000);
    const QByteArray footer = Footer(image, FooterFields());
    std::string printed;
    auto file = Load(WriteFile("good.cbin", image + footer), &printed);
    EXPECT_EQ(printed,
              "CBin Version: 1\n"
              "Version: 16909060\n"
              "Success!!\n"
              "Target Hardware: 16777216\n"
              "1.2.3.4\n"
              "1:0:xxxx\n");

    RezedorEvoderevEdarState* state = file->GetState();
    ASSERT_EQ(state, CBinVersion1FirmwareState::Instance());
    StdoutCapture capture;
    EXPECT_EQ(state->GetVersionString(file.get()), "VORAV-SMA 1.0.1 REL-1.2.3.4");
    EXPECT_EQ(capture.Stop(), "1.2.3.4\n1:0:xxxx\n");
    EXPECT_EQ(state->GetVersionNumber(file.get()), 0x01020304u);
    EXPECT_EQ(state->GetTargetHardware(file.get()), 0x01000000u);
    EXPECT_EQ(state->GetWrapperVersion(file.get()), 1u);
    EXPECT_EQ(state->GetFirmware(file.get()), image);
    EXPECT_EQ(state->GetSha1Hash(file.get()), Sha1(image));
    EXPECT_EQ(CBinVersion1FirmwareState::Instance()->GetCBinFooter(file.get()), footer);
    EXPECT_EQ(file->GetVersionString(), "");
}

TEST_F(FirmwareImageTest, WrappedImageWithAChangedByteEndsNull) {
    QByteArray image = TestImage(700);
    const QByteArray footer = Footer(image, FooterFields());
    image[350] = static_cast<char>(image[350] ^ 0x40);
    std::string printed;
    auto file = Load(WriteFile("changed.cbin", image + footer), &printed);
    EXPECT_EQ(printed,
              "CBin Version: 1\n"
              "Version: 16909060\n"
              "File checksums do not match!\n"
              "Calculated: " +
                  Hex(Sha1(image)) +
                  "\n"
                  "  Received: " +
                  Hex(footer.mid(14, 20)) +
                  "\n"
                  "Target Hardware: 4294967295\n");
    ExpectNullAnswers(file.get());
}

TEST_F(FirmwareImageTest, OtherWrapperVersionsAreReadWithTheVersionOneLayout) {
    const QByteArray image = TestImage(300);
    FooterFields fields;
    fields.wrapper_version = 2;
    std::string printed;
    auto file = LoadWrapped("v2.cbin", image, fields, &printed);
    EXPECT_EQ(
        printed.rfind("CBin Version: 2\nUnrecognized cbin version 2...\nVersion: 16909060\nSuccess!!\n", 0),
        0u)
        << printed;
    EXPECT_EQ(file->GetState(), CBinVersion1FirmwareState::Instance());
    EXPECT_EQ(file->GetState()->GetWrapperVersion(file.get()), 2u);
    EXPECT_EQ(file->GetState()->GetFirmware(file.get()), image);
}

TEST_F(FirmwareImageTest, UnknownFooterHardwareGivesTheUnrecognizedText) {
    const QByteArray image = TestImage(300);
    FooterFields fields;
    fields.product = 0x01;
    std::string printed;
    auto file = LoadWrapped("ceramic.cbin", image, fields, &printed);
    EXPECT_EQ(printed,
              "CBin Version: 1\nVersion: 16909060\nSuccess!!\nTarget Hardware: 16842752\n"
              "1.2.3.4\n1:1:xxxx\nUnknown hardware version in footer (101)\n");
    StdoutCapture capture;
    EXPECT_EQ(file->GetState()->GetVersionString(file.get()), "Unrecognized Firmware\n");
    EXPECT_EQ(capture.Stop(), "1.2.3.4\n1:1:xxxx\nUnknown hardware version in footer (101)\n");
    EXPECT_EQ(file->GetState()->GetTargetHardware(file.get()), 0x01010000u);
    EXPECT_EQ(file->GetState()->GetVersionNumber(file.get()), 0x01020304u);
}

TEST_F(FirmwareImageTest, ReleaseNumbersPrintAsUnsignedBytes) {
    const QByteArray image = TestImage(300);
    FooterFields fields;
    fields.release[0] = 255;
    fields.release[1] = 0;
    fields.release[2] = 128;
    fields.release[3] = 9;
    auto file = LoadWrapped("big.cbin", image, fields);
    StdoutCapture capture;
    EXPECT_EQ(file->GetState()->GetVersionString(file.get()), "VORAV-SMA 1.0.1 REL-255.0.128.9");
    EXPECT_EQ(capture.Stop(), "255.0.128.9\n1:0:xxxx\n");
    EXPECT_EQ(file->GetState()->GetVersionNumber(file.get()), 0xFF008009u);
}

TEST_F(FirmwareImageTest, FooterWithoutTheMagicsZeroIsARawImage) {
    const QByteArray image = TestImage(300);
    FooterFields fields;
    fields.wrapper_version = 0x0101;  // byte 12 is not zero
    std::string printed;
    auto file = LoadWrapped("nozero.cbin", image, fields, &printed);
    EXPECT_EQ(printed, "");
    ExpectNullAnswers(file.get());
}

TEST_F(FirmwareImageTest, FooterOnlyFileHoldsAnEmptyImage) {
    std::string printed;
    auto file = Load(WriteFile("footer_only.cbin", Footer(QByteArray(), FooterFields())), &printed);
    EXPECT_NE(printed.find("Success!!\n"), std::string::npos);
    EXPECT_EQ(file->GetState(), CBinVersion1FirmwareState::Instance());
    EXPECT_TRUE(file->GetState()->GetFirmware(file.get()).isEmpty());
}

TEST(FirmwareTable, HoldsSixEntriesKeyedByLowerCaseSha1Text) {
    EXPECT_EQ(hash_to_release_str_map.size(), 6u);
    EXPECT_EQ(UnwrappedFirmwareState::LoadHashToUnwrappedFirmwareMap().size(), 6u);
    for (const auto& row : hash_to_release_str_map) {
        EXPECT_EQ(row.first.size(), 40);
        EXPECT_EQ(row.first, row.first.toLower());
        EXPECT_NE(row.second.release_text.find(" REL-0.5.0."), std::string::npos);
    }
}

TEST_F(FirmwareImageTest, OnlyTheStandInImagesMatchTheTable) {
    for (const auto& row : hash_to_release_str_map) {
        const char* release_text = row.second.release_text.c_str();
        // Every row is a stand-in that says so in its own bytes.
        const QString one = QString::fromLatin1(Sha1(TableImage(release_text, 1)).toHex());
        const QString sixteen = QString::fromLatin1(Sha1(TableImage(release_text, 16)).toHex());
        EXPECT_TRUE(row.first == one || row.first == sixteen) << release_text;
        // A plain file that merely names a release is not taken for its image.
        for (int repeats : {1, 16}) {
            std::string printed;
            auto file = Load(
                WriteFile("release.txt", QByteArray(release_text).append('\n').repeated(repeats)), &printed);
            EXPECT_EQ(printed, "");
            ExpectNullAnswers(file.get());
        }
    }
}

namespace {

struct TableRow {
    const char* image_text;
    int repeats;
    const char* release_text;
    uint32_t version_number;
    uint32_t target_hardware_code;
};

class FirmwareRawImageTest : public FirmwareImageTest, public ::testing::WithParamInterface<TableRow> {};

}  // namespace

TEST_P(FirmwareRawImageTest, KnownRawImageTakesItsRow) {
    const TableRow& row = GetParam();
    const QByteArray image = TableImage(row.image_text, row.repeats);
    std::string printed;
    auto file = Load(WriteFile("raw.bin", image), &printed);
    EXPECT_EQ(printed, "");
    RezedorEvoderevEdarState* state = file->GetState();
    ASSERT_EQ(state, UnwrappedFirmwareState::Instance());
    EXPECT_EQ(file->GetVersionString(), row.release_text);
    for (int ask = 0; ask < 2; ++ask) {
        EXPECT_EQ(state->GetVersionString(file.get()), row.release_text);
        EXPECT_EQ(state->GetVersionNumber(file.get()), row.version_number);
        EXPECT_EQ(state->GetTargetHardware(file.get()), row.target_hardware_code);
        EXPECT_EQ(state->GetWrapperVersion(file.get()), 0u);
        EXPECT_EQ(state->GetFirmware(file.get()), image);
        EXPECT_EQ(state->GetSha1Hash(file.get()), Sha1(image));
    }
}

// The first row's image is shorter than a footer. The image shared by two
// rows answers with the row entered last.
INSTANTIATE_TEST_SUITE_P(
    BuiltInRows, FirmwareRawImageTest,
    ::testing::Values(
        TableRow{"VORAV-SMA 1.0.1 REL-0.5.0.0", 1, "VORAV-SMA 1.0.1 REL-0.5.0.0", 2, 1},
        TableRow{"VORAV-SMA 1.0.1 REL-0.5.0.1", 16, "VORAV-SMA 1.0.1 REL-0.5.0.1", 3, 1},
        TableRow{"VORAV-SMA 1.0.1 REL-0.5.0.2", 16, "VORAV-SMA 1.0.1 REL-0.5.0.2", 4, 1},
        TableRow{"VORAV-Ceramic 1.0.0 REL-0.5.0.0", 16, "VORAV-Ceramic 1.0.0 REL-0.5.0.0", 2, 2},
        TableRow{"VORAV-Ceramic 1.0.0 REL-0.5.0.1", 16, "VORAV-Ceramic 1.0.0 REL-0.5.0.1", 3, 2},
        TableRow{"VORAV-Tag 1.0.0 REL-0.5.0.2", 16, "VORAV-Tag 1.0.0 REL-0.5.0.2", 4, 3}));

TEST_F(FirmwareImageTest, RawGettersReadFromTheStartAndKeepThePosition) {
    const QByteArray image = TableImage("VORAV-SMA 1.0.1 REL-0.5.0.1", 16);
    auto file = Load(WriteFile("raw.bin", image));
    QPointer<QFile> qfile = file->GetState()->GetQFile(file.get());
    ASSERT_TRUE(qfile);
    ASSERT_TRUE(qfile->seek(17));
    EXPECT_EQ(file->GetState()->GetFirmware(file.get()), image);
    EXPECT_EQ(file->GetState()->GetVersionNumber(file.get()), 3u);
    EXPECT_EQ(qfile->pos(), 17);
}

TEST_F(FirmwareImageTest, WrappedGettersKeepThePosition) {
    const QByteArray image = TestImage(400);
    auto file = LoadWrapped("good.cbin", image, FooterFields());
    QPointer<QFile> qfile = file->GetState()->GetQFile(file.get());
    ASSERT_TRUE(qfile->seek(123));
    EXPECT_EQ(file->GetState()->GetFirmware(file.get()), image);
    EXPECT_EQ(file->GetState()->GetSha1Hash(file.get()), Sha1(image));
    EXPECT_EQ(qfile->pos(), 123);
}

TEST_F(FirmwareImageTest, UnknownRawImageAndMissingFileEndNull) {
    std::string printed;
    auto unknown = Load(WriteFile("unknown.bin", TestImage(5000)), &printed);
    EXPECT_EQ(printed, "");
    ExpectNullAnswers(unknown.get());

    auto missing = Load(dir_.filePath("no such file"), &printed);
    EXPECT_EQ(printed, "");
    ExpectNullAnswers(missing.get());
}

TEST_F(FirmwareImageTest, EmptyShortAndUnreadableFilesEndNull) {
    ExpectNullAnswers(Load(WriteFile("empty.bin", QByteArray())).get());
    ExpectNullAnswers(Load(WriteFile("short.bin", TestImage(255))).get());
    // A footer cut short: the magic alone.
    ExpectNullAnswers(Load(WriteFile("magic.bin", QByteArray("VEVURIZ-CBIN", 13))).get());
    ExpectNullAnswers(Load(dir_.path()).get());  // a directory
}

TEST_F(FirmwareImageTest, SequentialDevicesAreNotRead) {
    // /dev/zero never ends; reading it whole would never return.
    std::string printed;
    auto file = Load("/dev/zero", &printed);
    EXPECT_EQ(printed, "");
    ExpectNullAnswers(file.get());
}

TEST_F(FirmwareImageTest, FilesAboveTheSizeLimitAreNotRead) {
    const QString path = dir_.filePath("huge.bin");
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        // Sparse: nothing is written but the footer at the end.
        ASSERT_TRUE(out.resize(FIRMWARE_FILE_MAX_SIZE + 1 - 256));
        ASSERT_TRUE(out.seek(FIRMWARE_FILE_MAX_SIZE + 1 - 256));
        out.write(Footer(QByteArray(), FooterFields()));
    }
    std::string printed;
    auto file = Load(path, &printed);
    EXPECT_EQ(printed, "");
    ExpectNullAnswers(file.get());
}

TEST_F(FirmwareImageTest, EveryTruncationOfAWrappedImageEndsNull) {
    const QByteArray image = TestImage(200);
    const QByteArray whole = image + Footer(image, FooterFields());
    for (int length = 0; length < whole.size(); ++length) {
        auto file = Load(WriteFile("cut.cbin", whole.left(length)));
        ASSERT_EQ(file->GetState(), NullFirmwareFileState::Instance()) << length;
    }
}

TEST_F(FirmwareImageTest, FileChangedAfterLoadingDoesNotFailHard) {
    const QByteArray raw = TableImage("VORAV-SMA 1.0.1 REL-0.5.0.2", 16);
    const QString raw_path = WriteFile("raw.bin", raw);
    auto raw_file = Load(raw_path);
    ASSERT_EQ(raw_file->GetState(), UnwrappedFirmwareState::Instance());
    WriteFile("raw.bin", TestImage(600));
    EXPECT_EQ(raw_file->GetState()->GetVersionString(raw_file.get()), "");
    EXPECT_EQ(raw_file->GetState()->GetVersionNumber(raw_file.get()), 0xFFFFFFFFu);
    EXPECT_EQ(raw_file->GetState()->GetTargetHardware(raw_file.get()), 0xFFFFFFFFu);
    EXPECT_EQ(raw_file->GetVersionString(), "VORAV-SMA 1.0.1 REL-0.5.0.2");

    const QByteArray image = TestImage(400);
    auto wrapped = LoadWrapped("good.cbin", image, FooterFields());
    ASSERT_EQ(wrapped->GetState(), CBinVersion1FirmwareState::Instance());
    WriteFile("good.cbin", TestImage(100));
    StdoutCapture capture;
    EXPECT_EQ(wrapped->GetState()->GetVersionString(wrapped.get()), "");
    EXPECT_EQ(capture.Stop(), "");
    EXPECT_EQ(wrapped->GetState()->GetVersionNumber(wrapped.get()), 0xFFFFFFFFu);
    EXPECT_EQ(wrapped->GetState()->GetWrapperVersion(wrapped.get()), 0xFFFFFFFFu);
    EXPECT_TRUE(wrapped->GetState()->GetFirmware(wrapped.get()).isEmpty());
    EXPECT_TRUE(wrapped->GetState()->GetSha1Hash(wrapped.get()).isEmpty());
}

TEST_F(FirmwareImageTest, GettersSurviveTheFileObjectBeingDeleted) {
    const QByteArray raw = TableImage("VORAV-SMA 1.0.1 REL-0.5.0.1", 16);
    auto file = Load(WriteFile("raw.bin", raw));
    ASSERT_EQ(file->GetState(), UnwrappedFirmwareState::Instance());
    delete file->GetState()->GetQFile(file.get()).data();
    EXPECT_FALSE(file->GetState()->GetQFile(file.get()));
    EXPECT_TRUE(file->GetState()->GetFirmware(file.get()).isEmpty());
    EXPECT_TRUE(file->GetState()->GetSha1Hash(file.get()).isEmpty());
    EXPECT_EQ(file->GetState()->GetVersionNumber(file.get()), 0xFFFFFFFFu);
}

TEST_F(FirmwareImageTest, FilesShareTheStateObjects) {
    const QByteArray image = TestImage(300);
    auto wrapped = LoadWrapped("good.cbin", image, FooterFields());
    auto raw = Load(WriteFile("raw.bin", TableImage("VORAV-Ceramic 1.0.0 REL-0.5.0.0", 16)));
    auto wrapped_again = LoadWrapped("good2.cbin", image, FooterFields());
    auto null = Load(WriteFile("unknown.bin", TestImage(10)));
    EXPECT_EQ(wrapped->GetState(), CBinVersion1FirmwareState::Instance());
    EXPECT_EQ(wrapped_again->GetState(), wrapped->GetState());
    EXPECT_EQ(raw->GetState(), UnwrappedFirmwareState::Instance());
    EXPECT_EQ(null->GetState(), NullFirmwareFileState::Instance());
    EXPECT_EQ(raw->GetVersionString(), "VORAV-Ceramic 1.0.0 REL-0.5.0.0");
    EXPECT_EQ(raw->GetState()->GetTargetHardware(raw.get()), 2u);
}
