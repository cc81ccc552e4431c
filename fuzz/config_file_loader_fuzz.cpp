// Configuration file loading and validation on arbitrary file contents. The bytes go
// through a real file, as the loader reads paths. Faults besides crashes: a failed
// load that returns a non-empty object, a load or validation that differs when run
// again on the same bytes, a single-object file not returned as it stands, and a
// validation that passes without the two sections.
#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_file_loader.h"
#include "config/config_file_validator.h"

namespace {

// One scratch file per process, removed at exit.
class ScratchFile {
  public:
    ScratchFile() {
        char name[] = "/tmp/config_file_loader_fuzz_XXXXXX";
        fd_ = mkstemp(name);
        if (fd_ < 0)
            std::abort();
        path_ = name;
    }
    ~ScratchFile() {
        close(fd_);
        unlink(path_.c_str());
    }
    const std::string& Write(const uint8_t* data, size_t size) {
        if (ftruncate(fd_, 0) != 0)
            std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t written = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (written <= 0)
                std::abort();
            done += static_cast<size_t>(written);
        }
        return path_;
    }

  private:
    int fd_ = -1;
    std::string path_;
};

// The loader and validator print on every refusal; keep that off the fuzzer's output.
class QuietStdout {
  public:
    QuietStdout() {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ < 0 || null < 0)
            std::abort();
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout() {
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

  private:
    int saved_ = -1;
};

void DropQtMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFile scratch;
    static const QtMessageHandler previous = qInstallMessageHandler(DropQtMessage);
    (void)previous;
    const std::string& path = scratch.Write(data, size);

    QuietStdout quiet;
    // No uid file: uid 0 selects array entries without "server uid"; the second uid
    // matches the seeds' per-server arrays.
    ConfigFileLoader loader("/nonexistent/vorav/server_uid");
    for (uint32_t uid : {0u, 0x0A000002u}) {
        loader.SetServerUid(uid);
        bool ok = false;
        const QJsonObject config = loader.LoadJsonConfigFromFile(path, &ok);
        if (!ok && !config.isEmpty())
            std::abort();
        bool ok_again = false;
        if (loader.LoadJsonConfigFromFile(path, &ok_again) != config || ok_again != ok) {
            std::abort();
        }
        if (ok) {
            // The text ends at its first zero byte.
            const size_t length = strnlen(reinterpret_cast<const char*>(data), size);
            const QJsonDocument doc = QJsonDocument::fromJson(
                QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(length)));
            if (doc.isObject() && doc.object() != config)
                std::abort();
        }
        const bool valid = ConfigFileValidator::IsConfigFileValid(config, false);
        if (valid != ConfigFileValidator::IsConfigFileValid(config, true))
            std::abort();
        if (valid && (!config.contains("host") || !config.contains("network")))
            std::abort();
    }
    return 0;
}
