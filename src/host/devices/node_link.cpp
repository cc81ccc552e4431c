#include "host/devices/node_link.h"

#include <limits>

NodeLink::NodeLink(QObject* parent) : QObject(parent) {}

NodeLink::~NodeLink() = default;

void NodeLink::Publish(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0 || length > static_cast<uint32_t>(std::numeric_limits<int>::max()))
        return;
    emit DataToPublish(QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(length)));
}
