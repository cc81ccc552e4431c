#include "config/config_file_loader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "base/serial_number.h"
#include "support/stdout_capture.h"

namespace {

const uint32_t uid_a_ = 0x0A000001;
const uint32_t uid_b_ = 0x0A000002;
const uint32_t uid_c_ = 0x0A000003;

class ConfigFileLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    std::string PathOf(const char* name) const { return dir_.filePath(name).toStdString(); }

    std::string Write(const char* name, const QByteArray& bytes) const {
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return PathOf(name);
    }

    std::string Write(const char* name, const QJsonValue& value) const {
        const QJsonDocument doc =
            value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
        return Write(name, doc.toJson());
    }

    // A loader whose server uid comes from a file in the temporary folder.
    // A loader on the given server uid, owned by the fixture.
    ConfigFileLoader& LoaderOn(uint32_t uid) {
        loader_ = std::make_unique<ConfigFileLoader>(PathOf("no_server_uid"));
        loader_->SetServerUid(uid);
        return *loader_;
    }

    struct load_t {
        QJsonObject config;
        bool ok;
        std::string output;
    };

    load_t Load(ConfigFileLoader& loader, const std::string& path) const {
        StdoutCapture capture;
        EXPECT_TRUE(capture.IsActive());
        bool ok = !loader.GetServerUid();  // any start value; the loader must set it
        QJsonObject config = loader.LoadJsonConfigFromFile(path, &ok);
        return load_t{config, ok, capture.Stop()};
    }

    QTemporaryDir dir_;
    std::unique_ptr<ConfigFileLoader> loader_;
};

QJsonObject Node(const char* serial) {
    return QJsonObject{{"serial number", serial}};
}

QJsonObject Entry(QJsonValue uid, QJsonArray tags, QJsonArray anchors, QJsonArray masters,
                  QJsonArray rf = QJsonArray{QJsonObject{{"channel", 2}}}) {
    QJsonObject entry{
        {"host", QJsonObject{{"algorithm", "toa"}}},
        {"network",
         QJsonObject{{"rf settings", rf}, {"tags", tags}, {"anchors", anchors}, {"masters", masters}}}};
    if (!uid.isUndefined())
        entry.insert("server uid", uid);
    return entry;
}

QJsonObject Entry(QJsonValue uid) {
    return Entry(uid, {Node("t")}, {Node("a")}, {Node("m")});
}

TEST_F(ConfigFileLoaderTest, SingleObjectIsReturnedUnchanged) {
    const QJsonObject object{{"vsn", 3}, {"host", QJsonObject{{"algorithm", "toa"}}}};
    ConfigFileLoader& loader = LoaderOn(uid_b_);
    const load_t result = Load(loader, Write("single.cfg", object));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.config, object);
    EXPECT_EQ(result.output, "");
}

TEST_F(ConfigFileLoaderTest, SingleObjectKeepsItsOwnKnownNetworks) {
    const QJsonObject object{{"known networks", QJsonArray{QJsonObject{{"nodes", 1}}}}};
    ConfigFileLoader& loader = LoaderOn(uid_a_);
    const load_t result = Load(loader, Write("single.cfg", object));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.config, object);
}

TEST_F(ConfigFileLoaderTest, ArraySelectsThisServerAndGathersTheOthers) {
    const QJsonObject a =
        Entry(QString::fromStdString(SerialNumber_ToString(uid_a_)), {Node("ta1"), Node("ta2")},
              {Node("aa1")}, {Node("ma1")}, QJsonArray{QJsonObject{{"channel", 1}}});
    const QJsonObject b = Entry(static_cast<int>(uid_b_));
    const QJsonObject c = Entry(QString("0x0A000003"), {}, {Node("ac1")}, {Node("mc1")},
                                QJsonArray{QJsonObject{{"channel", 3}}});
    ConfigFileLoader& loader = LoaderOn(uid_b_);
    const load_t result = Load(loader, Write("three.cfg", QJsonArray{a, b, c}));
    ASSERT_TRUE(result.ok);

    QJsonObject expected = b;
    expected.insert(
        "known networks",
        QJsonArray{QJsonObject{{"server uid", a["server uid"]},
                               {"nodes", QJsonArray{Node("ta1"), Node("ta2"), Node("aa1"), Node("ma1")}},
                               {"rf settings", QJsonArray{QJsonObject{{"channel", 1}}}}},
                   QJsonObject{{"server uid", "0x0A000003"},
                               {"nodes", QJsonArray{Node("ac1"), Node("mc1")}},
                               {"rf settings", QJsonArray{QJsonObject{{"channel", 3}}}}}});
    EXPECT_EQ(result.config, expected);
    EXPECT_EQ(result.output, "");
}

TEST_F(ConfigFileLoaderTest, OthersWithoutRfSettingsOrNodesAreLeftOut) {
    const QJsonObject no_rf = Entry(QString("0x0A000001"), {Node("t")}, {}, {}, QJsonArray());
    const QJsonObject no_nodes = Entry(QString("0x0A000003"), {}, {}, {});
    const QJsonObject no_network{{"server uid", "0x0A000004"}};
    const QJsonObject mine = Entry(QString("0x0A000002"));
    ConfigFileLoader& loader = LoaderOn(uid_b_);
    const load_t result = Load(loader, Write("sparse.cfg", QJsonArray{no_rf, no_nodes, no_network, mine}));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.config, mine);
    EXPECT_FALSE(result.config.contains("known networks"));

    const QJsonObject useful = Entry(QString("0x0A000005"), {}, {}, {Node("m5")});
    const load_t with_one = Load(loader, Write("sparse2.cfg", QJsonArray{no_rf, useful, no_nodes, mine}));
    const QJsonArray known = with_one.config["known networks"].toArray();
    ASSERT_EQ(known.size(), 1);
    EXPECT_EQ(known[0].toObject()["server uid"], QJsonValue("0x0A000005"));
}

TEST_F(ConfigFileLoaderTest, KnownNetworksReplacesTheSelectedEntrysOwnKey) {
    QJsonObject mine = Entry(QString("0x0A000002"));
    mine.insert("known networks", "stale");
    ConfigFileLoader& loader = LoaderOn(uid_b_);
    const load_t result = Load(loader, Write("replace.cfg", QJsonArray{Entry(1), mine}));
    ASSERT_TRUE(result.config["known networks"].isArray());
    EXPECT_EQ(result.config["known networks"].toArray().size(), 1);
}

TEST_F(ConfigFileLoaderTest, MissingServerUidFileGivesUidZero) {
    ConfigFileLoader loader(PathOf("absent_server_uid"));
    EXPECT_EQ(loader.GetServerUid(), 0u);
    const QJsonObject without_uid = Entry(QJsonValue(QJsonValue::Undefined));
    const QJsonObject other = Entry(QString("0x0A000001"));
    const load_t result = Load(loader, Write("nouid.cfg", QJsonArray{other, without_uid}));
    ASSERT_TRUE(result.ok);
    QJsonObject expected = without_uid;
    expected.insert("known networks",
                    QJsonArray{QJsonObject{{"server uid", "0x0A000001"},
                                           {"nodes", QJsonArray{Node("t"), Node("a"), Node("m")}},
                                           {"rf settings", QJsonArray{QJsonObject{{"channel", 2}}}}}});
    EXPECT_EQ(result.config, expected);
}

TEST_F(ConfigFileLoaderTest, ServerUidIsReadFromItsFileAndSetServerUidWins) {
    ConfigFileLoader text_uid(Write("uid_text", QByteArray("0A:00:0003\n")));
    EXPECT_EQ(text_uid.GetServerUid(), uid_c_);
    ConfigFileLoader hex_uid(Write("uid_hex", QByteArray("0x0A000001")));
    EXPECT_EQ(hex_uid.GetServerUid(), uid_a_);
    ConfigFileLoader junk_uid(Write("uid_junk", QByteArray("junk")));
    EXPECT_EQ(junk_uid.GetServerUid(), 0u);
    ConfigFileLoader folder_uid(dir_.path().toStdString());
    EXPECT_EQ(folder_uid.GetServerUid(), 0u);

    const std::string path =
        Write("two.cfg", QJsonArray{Entry(QString("0A:00:0001")), Entry(QString("0A:00:0003"))});
    const load_t as_c = Load(text_uid, path);
    EXPECT_EQ(as_c.config["server uid"], QJsonValue("0A:00:0003"));
    text_uid.SetServerUid(uid_a_);
    const load_t as_a = Load(text_uid, path);
    EXPECT_EQ(as_a.config["server uid"], QJsonValue("0A:00:0001"));
}

TEST_F(ConfigFileLoaderTest, LaterMatchWinsAndEarlierMatchIsNotKnown) {
    QJsonObject first = Entry(QString("0x0A000002"));
    first.insert("which", 1);
    QJsonObject second = Entry(QString("0A:00:0002"));
    second.insert("which", 2);
    ConfigFileLoader& loader = LoaderOn(uid_b_);
    const load_t result = Load(loader, Write("twice.cfg", QJsonArray{first, second}));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.config["which"].toInt(), 2);
    EXPECT_FALSE(result.config.contains("known networks"));
}

TEST_F(ConfigFileLoaderTest, NonObjectEntriesAreIgnored) {
    const QJsonObject mine = Entry(QString("0x0A000002"));
    ConfigFileLoader& loader = LoaderOn(uid_b_);
    const load_t result =
        Load(loader, Write("mixed.cfg", QJsonArray{1, "0x0A000002", QJsonArray{mine}, mine, true}));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.config, mine);
}

TEST_F(ConfigFileLoaderTest, ArrayWithoutThisServerLoadsAnEmptyObject) {
    ConfigFileLoader& loader = LoaderOn(uid_c_);
    const load_t none = Load(loader, Write("none.cfg", QJsonArray{Entry(QString("0x0A000001"))}));
    EXPECT_TRUE(none.ok);
    EXPECT_TRUE(none.config.keys() == QStringList{"known networks"});
    const load_t empty = Load(loader, Write("empty_array.cfg", QByteArray("[]")));
    EXPECT_TRUE(empty.ok);
    EXPECT_TRUE(empty.config.isEmpty());
    EXPECT_EQ(empty.output, "");
}

TEST_F(ConfigFileLoaderTest, UnreadableFilesAreReported) {
    ConfigFileLoader& loader = LoaderOn(uid_a_);
    const std::string missing = PathOf("missing.cfg");
    const load_t result = Load(loader, missing);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.config.isEmpty());
    EXPECT_EQ(result.output, "Unable to open configuration file " + missing + "\n");

    const std::string folder = dir_.path().toStdString();
    const load_t directory = Load(loader, folder);
    EXPECT_FALSE(directory.ok);
    EXPECT_EQ(directory.output, "Unable to open configuration file " + folder + "\n");

    // A name with a zero byte inside never reaches another file; the message ends at it.
    const std::string with_nul = Write("nul", QByteArray("{}")) + std::string("\0x", 2);
    const load_t nul_name = Load(loader, with_nul);
    EXPECT_FALSE(nul_name.ok);
    EXPECT_EQ(nul_name.output, "Unable to open configuration file " + PathOf("nul") + "\n");

    const std::string locked = Write("locked.cfg", QByteArray("{}"));
    QFile::setPermissions(QString::fromStdString(locked), QFileDevice::Permissions());
    if (!QFile(QString::fromStdString(locked)).open(QIODevice::ReadOnly)) {  // not as root
        const load_t unreadable = Load(loader, locked);
        EXPECT_FALSE(unreadable.ok);
        EXPECT_EQ(unreadable.output, "Unable to open configuration file " + locked + "\n");
    }
}

TEST_F(ConfigFileLoaderTest, FilesAboveTheSizeLimitAreRefused) {
    ConfigFileLoader& loader = LoaderOn(uid_a_);
    // A valid JSON object padded with blanks to one byte above 16 MiB.
    QByteArray big(16 * 1024 * 1024 + 1, ' ');
    big[0] = '{';
    big[big.size() - 1] = '}';
    const std::string path = Write("big.cfg", big);
    const load_t result = Load(loader, path);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.output, "Unable to open configuration file " + path + "\n");
    big.chop(2);
    big.append('}');
    const load_t at_limit = Load(loader, Write("limit.cfg", big));
    EXPECT_TRUE(at_limit.ok);
    EXPECT_EQ(at_limit.output, "");
}

// The message is the parser's own text followed by the position.
void ExpectParseError(const std::string& output, const std::string& position) {
    const std::string suffix = " error at line " + position + " when parsing config file\n";
    ASSERT_GT(output.size(), suffix.size()) << output;
    EXPECT_EQ(output.substr(output.size() - suffix.size()), suffix);
    EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
}

struct parse_error_case_t {
    const char* name;
    QByteArray text;
    const char* position;  // "<line> column <column>"
};

TEST_F(ConfigFileLoaderTest, ParseErrorsGiveLineAndColumn) {
    const parse_error_case_t cases[] = {
        {"first_line", QByteArray("{\"ab\":}"), "1 column 7"},
        {"third_line_start", QByteArray("{\n}\n@"), "3 column 0"},
        {"after_blank_line", QByteArray("{\n\"a\":1\n\n}x"), "4 column 1"},
        {"empty", QByteArray(), "1 column 0"},
        {"blank", QByteArray("\n\n  "), "3 column 2"},
        {"nul_first", QByteArray("\0{\"a\":1}", 8), "1 column 0"},
        {"deep", QByteArray(100000, '['), "1 column 1025"},
        {"huge_number", QByteArray("{\"a\":1e999}"), "1 column 10"},
        {"scalar", QByteArray("42"), "1 column 1"},
    };
    ConfigFileLoader& loader = LoaderOn(uid_a_);
    for (const parse_error_case_t& test : cases) {
        SCOPED_TRACE(test.name);
        const load_t result = Load(loader, Write(test.name, test.text));
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.config.isEmpty());
        ExpectParseError(result.output, test.position);
    }
}

TEST_F(ConfigFileLoaderTest, TextEndsAtTheFirstZeroByte) {
    ConfigFileLoader& loader = LoaderOn(uid_a_);
    const load_t tail = Load(loader, Write("nul.cfg", QByteArray("{\"a\":1}\0garbage", 15)));
    EXPECT_TRUE(tail.ok);
    EXPECT_EQ(tail.config, (QJsonObject{{"a", 1}}));
    EXPECT_EQ(tail.output, "");
}

TEST_F(ConfigFileLoaderTest, NullOkFlagIsAccepted) {
    ConfigFileLoader& loader = LoaderOn(uid_a_);
    const std::string good = Write("ok.cfg", QByteArray("{\"a\":1}"));
    // Checked after the capture ends, so that a failure's text reaches the log.
    StdoutCapture capture;
    const QJsonObject missing = loader.LoadJsonConfigFromFile(PathOf("missing.cfg"), nullptr);
    const QJsonObject loaded = loader.LoadJsonConfigFromFile(good, nullptr);
    const std::string output = capture.Stop();
    EXPECT_TRUE(missing.isEmpty());
    EXPECT_EQ(loaded, (QJsonObject{{"a", 1}}));
    EXPECT_EQ(output, "Unable to open configuration file " + PathOf("missing.cfg") + "\n");
}

TEST(ConfigFileLoaderInstanceTest, InstanceIsOneObject) {
    ConfigFileLoader* loader = ConfigFileLoader::Instance();
    ASSERT_NE(loader, nullptr);
    EXPECT_EQ(loader, ConfigFileLoader::Instance());
    const uint32_t before = loader->GetServerUid();
    loader->SetServerUid(uid_c_);
    EXPECT_EQ(ConfigFileLoader::Instance()->GetServerUid(), uid_c_);
    loader->SetServerUid(before);
}

}  // namespace
