#include "protocol/firmware/rezedor_evoderev_edar.h"

#include <QIODevice>

#include "protocol/firmware/null_firmware_file_state.h"

RezedorEvoderevEdar::RezedorEvoderevEdar(QString fileName) : file_(new QFile(fileName)) {
    // A failed open is not an error here: LoadFile sees the file is not
    // readable and settles on the null state.
    file_->open(QIODevice::ReadOnly);
    current_state_ = NullFirmwareFileState::Instance();
    current_state_->LoadFile(this);
}

RezedorEvoderevEdar::~RezedorEvoderevEdar() {
    if (file_) {
        if (file_->isOpen()) {
            file_->close();
        }
        delete file_.data();
    }
}

void RezedorEvoderevEdar::ChangeState(RezedorEvoderevEdarState* state) {
    current_state_ = state;
}
