#pragma once
// Base of the three states of a firmware image file. The states hold no data:
// every operation takes the file whose bytes and facts it reads, so one object
// of each state serves every file.

#include <QByteArray>
#include <QFile>
#include <QPointer>
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <string>

class RezedorEvoderevEdar;

// Files above this size are not firmware images of these devices (whose flash
// holds a few hundred KiB); they are refused rather than read into memory,
// which also keeps every read within what a QByteArray can hold.
constexpr qint64 FIRMWARE_FILE_MAX_SIZE = 64 * 1024 * 1024;

class RezedorEvoderevEdarState {
  public:
    virtual uint32_t GetWrapperVersion(RezedorEvoderevEdar* file) = 0;
    virtual std::string GetVersionString(RezedorEvoderevEdar* file) = 0;
    virtual uint32_t GetVersionNumber(RezedorEvoderevEdar* file) = 0;
    virtual uint32_t GetTargetHardware(RezedorEvoderevEdar* file) = 0;
    virtual QByteArray GetFirmware(RezedorEvoderevEdar* file) = 0;
    virtual QByteArray GetSha1Hash(RezedorEvoderevEdar* file) = 0;

    // Recognises the file and sets its final state; run once by its constructor.
    void LoadFile(RezedorEvoderevEdar* file);
    QPointer<QFile> GetQFile(RezedorEvoderevEdar* file);

  protected:
    // The states are singletons that live as long as the process; nothing
    // deletes one through this base.
    ~RezedorEvoderevEdarState() = default;

    // Reads exactly `length` bytes from `offset` into *bytes and puts the
    // file position back where it was. False (and *bytes empty) when the file
    // is gone, the range does not lie inside the file or the length exceeds
    // FIRMWARE_FILE_MAX_SIZE.
    static bool ReadFileRange(QFile* qfile, qint64 offset, qint64 length, QByteArray* bytes);
    // All bytes of the file, from its start whatever the position.
    static bool ReadWholeFile(QFile* qfile, QByteArray* bytes);
    static QByteArray Sha1(const QByteArray& bytes);
    // The 40 lower-case hexadecimal characters of a raw SHA-1.
    static QString Sha1Text(const QByteArray& sha1);

  private:
    void LoadRawImage(RezedorEvoderevEdar* file, QFile* qfile);
    void LoadWrappedImage(RezedorEvoderevEdar* file, QFile* qfile, const QByteArray& footer);
};
