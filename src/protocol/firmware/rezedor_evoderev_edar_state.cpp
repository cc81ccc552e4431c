#include "protocol/firmware/rezedor_evoderev_edar_state.h"

#include <QCryptographicHash>
#include <cstdio>
#include <cstring>

#include "base/byte_order.h"
#include "protocol/firmware/cbin_version1_firmware_state.h"
#include "protocol/firmware/null_firmware_file_state.h"
#include "protocol/firmware/rezedor_evoderev_edar.h"
#include "protocol/firmware/unwrapped_firmware_state.h"

QPointer<QFile> RezedorEvoderevEdarState::GetQFile(RezedorEvoderevEdar* file) {
    return file->file_;
}

bool RezedorEvoderevEdarState::ReadFileRange(QFile* qfile, qint64 offset, qint64 length, QByteArray* bytes) {
    bytes->clear();
    if (qfile == nullptr || !qfile->isOpen() || offset < 0 || length < 0 || length > FIRMWARE_FILE_MAX_SIZE ||
        offset > qfile->size() - length) {
        return false;
    }
    const qint64 position = qfile->pos();
    bool ok = qfile->seek(offset);
    if (ok) {
        *bytes = qfile->read(length);
        // The file may have shrunk since its size was asked for.
        ok = bytes->size() == length;
    }
    qfile->seek(position);
    if (!ok) {
        bytes->clear();
    }
    return ok;
}

bool RezedorEvoderevEdarState::ReadWholeFile(QFile* qfile, QByteArray* bytes) {
    if (qfile == nullptr) {
        bytes->clear();
        return false;
    }
    return ReadFileRange(qfile, 0, qfile->size(), bytes);
}

QByteArray RezedorEvoderevEdarState::Sha1(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

QString RezedorEvoderevEdarState::Sha1Text(const QByteArray& sha1) {
    return QString::fromLatin1(sha1.toHex());
}

void RezedorEvoderevEdarState::LoadFile(RezedorEvoderevEdar* file) {
    QFile* qfile = GetQFile(file).data();
    // A sequential device (a pipe, a character device) has no size to find a
    // footer by and may never end; only a seekable file within the size limit
    // is read at all.
    if (qfile == nullptr || !qfile->isOpen() || !qfile->isReadable() || qfile->isSequential() ||
        qfile->size() > FIRMWARE_FILE_MAX_SIZE) {
        file->ChangeState(NullFirmwareFileState::Instance());
        return;
    }

    // A file shorter than a footer cannot be wrapped: it is taken as a raw
    // image, and nothing outside the file is read.
    QByteArray footer;
    ReadFileRange(qfile, qfile->size() - CBIN_FOOTER_SIZE, CBIN_FOOTER_SIZE, &footer);
    qfile->seek(0);
    if (footer.size() != CBIN_FOOTER_SIZE ||
        std::memcmp(footer.constData(), CBIN_MAGIC, sizeof(CBIN_MAGIC)) != 0) {
        LoadRawImage(file, qfile);
    } else {
        LoadWrappedImage(file, qfile, footer);
    }
}

void RezedorEvoderevEdarState::LoadRawImage(RezedorEvoderevEdar* file, QFile* qfile) {
    QByteArray image;
    if (!ReadWholeFile(qfile, &image)) {
        file->ChangeState(NullFirmwareFileState::Instance());
        return;
    }
    const auto row = hash_to_release_str_map.find(Sha1Text(Sha1(image)));
    if (row == hash_to_release_str_map.end()) {
        file->ChangeState(NullFirmwareFileState::Instance());
        return;
    }
    file->ChangeState(UnwrappedFirmwareState::Instance());
    file->version_string_ = row->second.release_text;
    file->version_number_ = row->second.version_number;
    file->target_hardware_ = row->second.target_hardware_code;
}

void RezedorEvoderevEdarState::LoadWrappedImage(RezedorEvoderevEdar* file, QFile* qfile,
                                                const QByteArray& footer) {
    const uint16_t wrapper_version =
        wire::read_be16(reinterpret_cast<const uint8_t*>(footer.constData()) + CBIN_WRAPPER_VERSION_OFFSET);
    std::printf("CBin Version: %hu\n", wrapper_version);
    std::fflush(stdout);

    QByteArray image;
    // An image that cannot be read in full (the file shrank meanwhile) must
    // not pass as the empty image whose SHA-1 a footer might carry.
    const bool image_read = ReadFileRange(qfile, 0, qfile->size() - CBIN_FOOTER_SIZE, &image);
    const QByteArray calculated = Sha1(image);

    if (wrapper_version != 1) {
        std::printf("Unrecognized cbin version %hu...\n", wrapper_version);
    }
    // Any other wrapper version is read with the version-1 layout all the same.
    file->ChangeState(CBinVersion1FirmwareState::Instance());
    std::printf("Version: %u\n", file->current_state_->GetVersionNumber(file));

    const QByteArray received = file->current_state_->GetSha1Hash(file);
    if (image_read && calculated == received) {
        std::printf("Success!!\n");
    } else {
        std::printf("File checksums do not match!\n");
        std::printf("Calculated: %s\n", calculated.toHex().constData());
        std::printf("  Received: %s\n", received.toHex().constData());
        std::fflush(stdout);
        file->ChangeState(NullFirmwareFileState::Instance());
    }
    std::printf("Target Hardware: %u\n", file->current_state_->GetTargetHardware(file));
    // Called for the report it prints; the text itself is not kept.
    (void)file->current_state_->GetVersionString(file);
    std::fflush(stdout);
}
