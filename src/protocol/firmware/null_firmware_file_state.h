#pragma once
// The state of a file that holds no recognised image: every number is
// 0xFFFFFFFF, every text and byte array empty.

#include "protocol/firmware/rezedor_evoderev_edar_state.h"

class NullFirmwareFileState : public RezedorEvoderevEdarState {
  public:
    static NullFirmwareFileState* Instance();

    uint32_t GetWrapperVersion(RezedorEvoderevEdar* file) override;
    std::string GetVersionString(RezedorEvoderevEdar* file) override;
    uint32_t GetVersionNumber(RezedorEvoderevEdar* file) override;
    uint32_t GetTargetHardware(RezedorEvoderevEdar* file) override;
    QByteArray GetFirmware(RezedorEvoderevEdar* file) override;
    QByteArray GetSha1Hash(RezedorEvoderevEdar* file) override;
};
