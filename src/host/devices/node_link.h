#pragma once
// Base of the device links (USB serial and Ethernet). A node reaches its
// device through the link it holds a guarded pointer to.

#include <QByteArray>
#include <QObject>
#include <atomic>
#include <cstdint>

class NodeLink : public QObject {
    Q_OBJECT

  public:
    explicit NodeLink(QObject* parent = nullptr);
    ~NodeLink() override;

    // Sends one payload to the device. Callable from any thread: the bytes are
    // copied and handed to the link's own thread by DataToPublish.
    void Publish(const uint8_t* data, uint32_t length);

    // 0 until the device has identified itself.
    uint32_t GetSerialNumber() const { return serial_number_.load(std::memory_order_acquire); }

  signals:
    void DataToPublish(QByteArray data);

  protected:
    void SetSerialNumber(uint32_t serialNumber) {
        serial_number_.store(serialNumber, std::memory_order_release);
    }

  private:
    // Written by the link's thread when the device answers, read by any thread.
    std::atomic<uint32_t> serial_number_{0};
};
