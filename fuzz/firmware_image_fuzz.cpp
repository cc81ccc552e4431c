// Firmware image recognition on arbitrary file contents. The bytes go through
// the real file path: they are written to an anonymous in-memory file that
// the file object opens by its /proc/self/fd name. Whatever the state, its
// answers must agree with it; a wrapped image that loaded must hold the image
// its footer's SHA-1 names.
#include <sys/mman.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "base/byte_order.h"
#include "protocol/firmware/cbin_version1_firmware_state.h"
#include "protocol/firmware/null_firmware_file_state.h"
#include "protocol/firmware/rezedor_evoderev_edar.h"
#include "protocol/firmware/unwrapped_firmware_state.h"
#include "support/fuzz_check.h"

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("firmware_image_fuzz", 0);
    if (fd < 0) {
        return 0;
    }
    if (WriteAll(fd, data, size)) {
        RezedorEvoderevEdar file(QString("/proc/self/fd/%1").arg(fd));
        RezedorEvoderevEdarState* state = file.GetState();
        const QByteArray contents(reinterpret_cast<const char*>(data), static_cast<int>(size));
        const QByteArray firmware = state->GetFirmware(&file);
        const QByteArray sha1 = state->GetSha1Hash(&file);
        (void)state->GetVersionString(&file);

        if (state == NullFirmwareFileState::Instance()) {
            Check(firmware.isEmpty() && sha1.isEmpty() && file.GetVersionString().empty());
            Check(state->GetVersionNumber(&file) == 0xFFFFFFFF &&
                  state->GetTargetHardware(&file) == 0xFFFFFFFF &&
                  state->GetWrapperVersion(&file) == 0xFFFFFFFF);
        } else if (state == UnwrappedFirmwareState::Instance()) {
            Check(firmware == contents);
            Check(sha1 == QCryptographicHash::hash(contents, QCryptographicHash::Sha1));
            const auto row = hash_to_release_str_map.find(QString::fromLatin1(sha1.toHex()));
            Check(row != hash_to_release_str_map.end());
            Check(file.GetVersionString() == row->second.release_text);
            Check(state->GetVersionNumber(&file) == row->second.version_number);
            Check(state->GetTargetHardware(&file) == row->second.target_hardware_code);
            Check(state->GetWrapperVersion(&file) == 0);
        } else {
            Check(state == CBinVersion1FirmwareState::Instance());
            Check(size >= 256 && firmware == contents.left(static_cast<int>(size) - 256));
            Check(sha1 == QCryptographicHash::hash(firmware, QCryptographicHash::Sha1));
            Check(contents.mid(static_cast<int>(size) - 256, 12) == "VEVURIZ-CBIN" &&
                  contents[static_cast<int>(size) - 256 + 12] == '\0');
            Check(file.GetVersionString().empty());
            // The footer fields, read here straight from the bytes.
            const uint8_t* footer = data + size - 256;
            Check(sha1 == contents.mid(static_cast<int>(size) - 256 + 14, 20));
            Check(state->GetWrapperVersion(&file) == wire::read_be16(footer + 12));
            Check(state->GetVersionNumber(&file) == wire::read_be32(footer + 34));
            Check(state->GetTargetHardware(&file) ==
                  ((static_cast<uint32_t>(footer[38]) << 24) | (static_cast<uint32_t>(footer[39]) << 16)));
        }
    }
    close(fd);
    return 0;
}
