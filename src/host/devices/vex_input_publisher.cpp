#include "host/devices/vex_input_publisher.h"

#include "base/thread_annotations.h"

void VexPacketRecorder::PublishInputVex(VexPacket& packet) {
    AnnotatedMutexLocker lock(&mutex_);
    packets_.push_back(packet);
}

std::vector<VexPacket> VexPacketRecorder::Packets() const {
    AnnotatedMutexLocker lock(&mutex_);
    return packets_;
}

size_t VexPacketRecorder::PacketCount() const {
    AnnotatedMutexLocker lock(&mutex_);
    return packets_.size();
}

void VexPacketRecorder::Clear() {
    AnnotatedMutexLocker lock(&mutex_);
    packets_.clear();
}
