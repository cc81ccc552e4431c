#pragma once
// A device on a USB serial port at 115200 baud. Run opens the port and asks
// the device for its serial number about every 200 ms until it answers, then
// emits DeviceConnected and reads on the thread's event loop. When the port
// goes away (unplugged: a resource error, or a read error after a hang-up)
// the link closes it and identifies the device again once it is back.
//
// Everything runs in the link's thread; the port is created there by Run.

#include <QPointer>
#include <QSerialPort>
#include <atomic>
#include <cstdint>
#include <string>

#include "host/devices/node_link.h"

class UsbLink : public NodeLink {
    Q_OBJECT

  public:
    static constexpr uint32_t kBaudRate = 115200;

    UsbLink();
    ~UsbLink() override;

    // Keeps the port name (state 0 only) and initialises the base.
    bool Init(std::shared_ptr<const NodeManager> registry, std::shared_ptr<VexInputPublisher> publisher,
              const QString& portName) override;
    std::string GetPortName() const override { return port_name_; }
    void Open() override;
    void Close() override;
    bool WaitForBytesWritten(int msecs) override;
    bool WaitForReadyRead(int msecs) override;

    // Failed opens over all serial links, modulo 256.
    static uint8_t GetOpenFailureCount() { return __open_failures.load(); }

  public slots:
    void Run() override;
    void PublishData(QByteArray payload) override;
    void ReadSerialPort();
    void HandleError(QSerialPort::SerialPortError error);

  private:
    // The 200 ms loop: open, query, until the device is known or the link
    // shuts down; then DeviceConnected once.
    void IdentifyDevice();
    // Closes the vanished port and forgets the device (link's thread, never
    // inside a signal of the port itself).
    void Recover();

    std::string port_name_;
    uint32_t baud_rate_ = 0;
    QPointer<QSerialPort> serial_port_;
    // Link's thread only. identifying_: IdentifyDevice is running, so a port
    // error is picked up by its loop; recovery_pending_: the port failed and
    // has not been closed yet.
    bool identifying_ = false;
    bool recovery_pending_ = false;

    // Failures to open, over all serial links; paces the failure message.
    static std::atomic<uint8_t> __open_failures;
};
