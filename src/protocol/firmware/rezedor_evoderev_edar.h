#pragma once
// One firmware image file for the system's devices: a wrapped image (the image
// bytes followed by a 256-byte "VEVURIZ-CBIN" footer), a raw image known by
// its SHA-1, or neither. The kind is settled once, in the constructor, and held
// as one of three shared state objects that answer for the file.
//
// Used from the thread that created it.

#include <QFile>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <string>

class RezedorEvoderevEdarState;

class RezedorEvoderevEdar {
  public:
    // Opens the file read-only and recognises it; a file that cannot be opened
    // or read ends in the null state.
    explicit RezedorEvoderevEdar(QString fileName);
    ~RezedorEvoderevEdar();
    RezedorEvoderevEdar(const RezedorEvoderevEdar&) = delete;
    RezedorEvoderevEdar& operator=(const RezedorEvoderevEdar&) = delete;

    void ChangeState(RezedorEvoderevEdarState* state);

    // The state that answers for this file; ask it with the file, e.g.
    // file.GetState()->GetVersionNumber(&file).
    RezedorEvoderevEdarState* GetState() const { return current_state_; }

    // The release text of the table row of a recognised raw image; empty for
    // any other file (a wrapped image's text comes from its state).
    std::string GetVersionString() const { return version_string_; }

  private:
    // The states read the file through GetQFile and LoadFile copies a raw
    // image's table row here.
    friend class RezedorEvoderevEdarState;

    QPointer<QFile> file_;
    RezedorEvoderevEdarState* current_state_ = nullptr;  // a shared singleton, not owned
    std::string version_string_;
    uint32_t version_number_ = 0xFFFFFFFF;
    uint32_t target_hardware_ = 0xFFFFFFFF;
};
