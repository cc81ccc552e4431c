#include "config/node_settings.h"

// The pointer copies accept a null pointer and then keep the defaults.

NodeSettings::NodeSettings(NodeSettings* other) {
    if (other != nullptr)
        *this = *other;
}

AnchorSettings::AnchorSettings(AnchorSettings* other) {
    if (other != nullptr)
        *this = *other;
}

MasterSettings::MasterSettings(MasterSettings* other) {
    if (other != nullptr)
        *this = *other;
}

TagSettings::TagSettings(TagSettings* other) {
    if (other != nullptr)
        *this = *other;
}
