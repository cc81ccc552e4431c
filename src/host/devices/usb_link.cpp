#include "host/devices/usb_link.h"

#include <QMetaObject>
#include <cstdio>

#include "base/thread_annotations.h"

namespace {

// The pause between two steps of the identification loop.
constexpr int kRetryMs = 200;
// Written once after opening, before any frame.
constexpr char kLineFeed = 0x0A;

void PrintThreadRunning() {
    std::printf("NodeLink: thread running...\n");
    std::fflush(stdout);
}

}  // namespace

std::atomic<uint8_t> UsbLink::__open_failures{0};

UsbLink::UsbLink() : NodeLink(nullptr) {}

UsbLink::~UsbLink() {
    if (serial_port_ && GetLinkState() == kStateOpen && serial_port_->isOpen()) {
        serial_port_->close();
    }
    delete serial_port_.data();
}

bool UsbLink::Init(std::shared_ptr<const NodeManager> registry, std::shared_ptr<VexInputPublisher> publisher,
                   const QString& portName) {
    if (GetLinkState() != kStateNotInitialised) {
        return false;
    }
    port_name_ = portName.toStdString();
    baud_rate_ = kBaudRate;
    return NodeLink::Init(std::move(registry), std::move(publisher), portName);
}

void UsbLink::Run() {
    NodeLink::Run();
    PrintThreadRunning();
    if (!serial_port_) {
        serial_port_ = new QSerialPort(this);
    }
    connect(serial_port_, &QSerialPort::readyRead, this, &UsbLink::ReadSerialPort, Qt::UniqueConnection);
    // Direct (same thread): an error met inside the waits of the
    // identification loop is seen by the loop itself.
    connect(serial_port_, &QSerialPort::errorOccurred, this, &UsbLink::HandleError, Qt::UniqueConnection);
    IdentifyDevice();
}

void UsbLink::IdentifyDevice() {
    identifying_ = true;
    while (!IsShuttingDown()) {
        if (recovery_pending_) {
            Recover();
        }
        if (GetSerialNumber() != 0) {
            identifying_ = false;
            emit DeviceConnected(this);
            return;
        }
        SleepUnlessShuttingDown(kRetryMs);
        if (IsShuttingDown()) {
            break;
        }
        if (GetLinkState() == kStateClosed) {
            Open();
        } else if (GetLinkState() == kStateOpen) {
            QuerySerialNumber();
        }
    }
    identifying_ = false;
}

void UsbLink::Open() {
    if (GetLinkState() != kStateClosed || IsShuttingDown() || !serial_port_) {
        return;
    }
    serial_port_->setPortName(QString::fromStdString(port_name_));
    if (serial_port_->open(QIODevice::ReadWrite)) {
        serial_port_->setBaudRate(static_cast<qint32>(baud_rate_), QSerialPort::AllDirections);
        serial_port_->clear(QSerialPort::AllDirections);
        std::printf("UsbLink: successfully opened the serial port: %s\n", port_name_.c_str());
        std::fflush(stdout);
        NodeLink::Open();
        serial_port_->write(&kLineFeed, 1);
        return;
    }
    // Shared by every serial link: the first failure is reported, then one
    // in 256 (a port that stays missing is reported about every 100 s).
    if (__open_failures.fetch_add(1) == 0) {
        std::printf("NodeLink: failed to open serial port %s\n", port_name_.c_str());
        std::fflush(stdout);
    }
    SleepUnlessShuttingDown(kRetryMs);
}

void UsbLink::Close() {
    if (GetLinkState() != kStateOpen || !serial_port_) {
        return;
    }
    if (serial_port_->isOpen()) {
        serial_port_->close();
    }
    NodeLink::Close();
    std::printf("UsbLink: closed serial connection\n");
    std::fflush(stdout);
}

bool UsbLink::WaitForBytesWritten(int msecs) {
    return serial_port_ && serial_port_->waitForBytesWritten(msecs);
}

bool UsbLink::WaitForReadyRead(int msecs) {
    return serial_port_ && serial_port_->waitForReadyRead(msecs);
}

void UsbLink::PublishData(QByteArray payload) {
    AnnotateTakeOver(payload.constData());
    if (!serial_port_ || IsShuttingDown() || !serial_port_->isOpen()) {
        return;
    }
    const uint16_t frame_length = FramePayload(payload);
    if (frame_length == 0) {
        return;
    }
    const qint64 written = serial_port_->write(reinterpret_cast<const char*>(TransmitBuffer()), frame_length);
    if (written < 1) {
        std::printf("UsbLink: Serial Port No Longer Open!!!\n");
        std::fflush(stdout);
    } else {
        serial_port_->flush();
    }
    if (written < frame_length) {
        std::printf("UsbLink: packet publish FAIL (error = %d)\n", static_cast<int>(written));
        std::fflush(stdout);
    }
}

void UsbLink::ReadSerialPort() {
    // A failed port keeps reporting readable (a hang-up) until it is closed.
    if (IsShuttingDown() || recovery_pending_ || !serial_port_) {
        return;
    }
    const QByteArray bytes = serial_port_->readAll();
    ReceiveBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
}

void UsbLink::HandleError(QSerialPort::SerialPortError error) {
    // An unplugged adapter gives a resource error; a hung-up terminal (and
    // some adapters) a read error, which would otherwise repeat forever.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) {
        return;
    }
    if (!serial_port_ || !serial_port_->isOpen() || IsShuttingDown() || recovery_pending_) {
        return;
    }
    std::printf("Serial Port %s encountered a resource error; restarting the connection!\n",
                qPrintable(serial_port_->portName()));
    std::fflush(stdout);
    recovery_pending_ = true;
    if (identifying_) {
        return;  // the identification loop recovers at its next step
    }
    // Queued: the port must not be closed inside its own signal, and the
    // identification loop must start from the event loop, not nested in it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!IsShuttingDown() && recovery_pending_) {
                IdentifyDevice();
            }
        },
        Qt::QueuedConnection);
}

void UsbLink::Recover() {
    recovery_pending_ = false;
    Close();
    // The SSP state stays: sequence numbers go on, and a partial frame is
    // finished or abandoned by the parser itself.
    SetSerialNumber(0);
    // The identification loop starts over, as a new run of the link does.
    PrintThreadRunning();
}
