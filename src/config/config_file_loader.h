#pragma once
// Reads a JSON configuration file and returns the configuration object meant for this
// server: a single object as it stands, or from an array of per-server objects the one
// whose "server uid" is this server's, with the other entries' networks gathered under
// "known networks".
//
// The loader changes no settings; its callers upgrade, validate and convert the object.
// Used from one thread at a time (start-up, then the GUI thread).

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <string>

class ConfigFileLoader {
  public:
    // The process-wide loader; the first call reads the server uid from
    // "/etc/vorav/server_uid". Never freed.
    static ConfigFileLoader* Instance();

    // A loader that reads its server uid from the given file instead (tests use it so
    // that they never depend on, or write to, /etc).
    explicit ConfigFileLoader(const std::string& server_uid_path);

    ConfigFileLoader(const ConfigFileLoader&) = delete;
    ConfigFileLoader& operator=(const ConfigFileLoader&) = delete;

    // The command line's "--server-uid" wins over the file; set it before loading.
    void SetServerUid(uint32_t uid) { server_uid_ = uid; }
    uint32_t GetServerUid() const { return server_uid_; }

    // The configuration object for this server, or an empty object with *ok false when
    // the file cannot be read or is not valid JSON (a message is printed). A file larger
    // than 16 MiB counts as unreadable: no real configuration comes near it, and a huge
    // or endless file must not exhaust memory.
    QJsonObject LoadJsonConfigFromFile(std::string path, bool* ok);

  private:
    std::string ReadEntireFile(std::string path, bool* ok);
    QJsonDocument ParseJsonConfigFile(std::string text, bool* ok);
    QJsonObject LoadMyConfig(QJsonDocument doc, bool* ok);
    void LoadOtherConfigs(QJsonObject& mine, QJsonArray& others);
    void LoadServerUid();

    std::string server_uid_path_;
    uint32_t server_uid_ = 0;
};
