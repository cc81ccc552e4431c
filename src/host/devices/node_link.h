#pragma once
// Base of the device links (USB serial and Ethernet): the server's connection
// to one device. A link owns the SSP state of its port, identifies the device,
// carries payloads from any thread to its own thread, and turns every SSP
// payload the device sends into Vuv items on the Internal stream:
//
//   0x14 transmit passthrough of a sync        -> tick (0x8000)
//   0x13 receive passthrough of a sync          -> timed reception (0x8001)
//        ... of an announce response            -> discovery (0x8003)
//        ... of a location tag report           -> ping (0x8002)
//        ... of an anchor report                -> the anchor's items, then
//                                                  the report's own 0x8001
//   0x12 response to an SSP command             -> SSP response (0x8004)
//   0x10 bridge answer                          -> the device's serial number
//
// Threads: the link lives in a thread of its own (see WorkerThread). Publish,
// Shutdown, GetSerialNumber, GetLinkState and IsShuttingDown may be called
// from any thread; everything else runs in the link's thread. The registry
// and the publisher are held by shared pointers, so they stay valid until the
// link is deleted as its thread ends.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "host/devices/message_throttle.h"
#include "host/devices/vex_input_publisher.h"
#include "protocol/packets/rf_report_item_header_packet.h"
#include "protocol/packets/rx_passthrough_data_packet.h"
#include "protocol/reports/derazud_usb_tag_rpt.h"
#include "protocol/ssp/ssp_protocol.h"
#include "protocol/vex/vex_packet.h"

class NodeManager;

class NodeLink : public QObject {
    Q_OBJECT

  public:
    // Link states (there is no state 1).
    static constexpr uint32_t kStateNotInitialised = 0;
    static constexpr uint32_t kStateClosed = 2;
    static constexpr uint32_t kStateOpen = 3;

    explicit NodeLink(QObject* parent = nullptr);
    ~NodeLink() override;

    // Initialises the link once (later calls change nothing and return
    // false): keeps the registry, through which received network ids are
    // named, and the Internal stream's publisher (either may be empty: ids
    // then name serial number 0, and items are dropped), sets up the SSP
    // state and moves to state 2. The name is the subclass's. The
    // shutting-down flag is left alone: a shutdown asked for before the
    // thread runs must not be undone.
    virtual bool Init(std::shared_ptr<const NodeManager> registry,
                      std::shared_ptr<VexInputPublisher> publisher, const QString& name);
    virtual std::string GetPortName() const = 0;

  public slots:
    // Started by the thread's started(); the subclasses' identification loop.
    virtual void Run();

  public:
    // State 2 to 3; routes DataToPublish to PublishData.
    virtual void Open();
    // State 3 to 2.
    virtual void Close();
    virtual bool WaitForBytesWritten(int msecs) = 0;
    virtual bool WaitForReadyRead(int msecs) = 0;

    // Sends one payload to the device; callable from any thread. The bytes
    // are copied and queued to the link's thread, where PublishData frames
    // and writes them. A payload longer than an SSP frame carries is refused
    // before it is copied.
    void Publish(const uint8_t* data, uint32_t length);
    // Sends the bridge query 0x10 0x09 and waits up to 200 ms for it to be
    // written and 200 ms for an answer, which is dispatched while waiting.
    void QuerySerialNumber();
    // Clears the shutting-down flag, so that the wait loops run again.
    void LoadDefaults();

    // 0 until the device has identified itself.
    uint32_t GetSerialNumber() const { return serial_number_.load(std::memory_order_acquire); }
    uint32_t GetLinkState() const { return link_state_.load(std::memory_order_acquire); }
    bool IsShuttingDown() const { return shutting_down_.load(std::memory_order_acquire); }

    // Entry point of every SSP payload the device sent (link's thread).
    void HandlePacketRx(const uint8_t* payload, int length);

  public slots:
    // Frames and writes one payload (link's thread).
    virtual void PublishData(QByteArray payload) = 0;
    // Ends the link. In the link's own thread: drops the link's connections
    // to itself, closes the port and emits QuitThread. From any other thread:
    // marks the link as shutting down at once (every wait loop ends) and
    // queues the real shutdown to the link's thread, where it runs even when
    // Run has not run yet.
    void Shutdown();

  signals:
    void SignalShutdown();
    void DeviceConnected(NodeLink* link);
    void QuitThread();
    void DataToPublish(QByteArray data);
    // Declared for receivers of whole tag reports; no link emits it.
    void EmitRtlsTagReport(derazud_usb_tag_rpt_t tag_rpt);

  protected:
    void SetSerialNumber(uint32_t serial_number) {
        serial_number_.store(serial_number, std::memory_order_release);
    }
    // Sleeps up to `msecs`, waking at once when the link is shut down.
    void SleepUnlessShuttingDown(int msecs);
    // Feeds received bytes to the SSP parser and dispatches every payload
    // completed on the way (link's thread).
    void ReceiveBytes(const uint8_t* data, size_t length);
    // Frames `payload` in the SSP transmit buffer; returns the frame (at
    // TransmitBuffer()) length, or 0 when the payload does not fit a frame.
    uint16_t FramePayload(const QByteArray& payload);
    const uint8_t* TransmitBuffer() const { return ssp_->tx_buffer; }
    // Messages triggered by what the device sends go through this throttle.
    MessageThrottle& DeviceMessages() { return device_messages_; }
    // The six signal values of a receive header or of a report item header.
    // The handlers copy them directly; kept for links that want them apart.
    static signal_strength_t _GetSignalStrength(ssp_cmd_set_rx_passthrough_data_t header);
    static signal_strength_t _GetSignalStrength(rf_packet_report_item_header_t header);

  private:
    // Handlers of HandlePacketRx, one per SSP payload type; each is called
    // only with a payload whose length suits its record.
    void HandleUsbBridgePkt(const uint8_t* payload, int length);
    void HandleUsbResponsePacket(const uint8_t* payload, int length);
    void HandleUsbRfRxPkt(const uint8_t* payload, int length);
    void HandleUsbRfTxPkt(const uint8_t* payload, int length);

    // Handlers of the RF packets inside a receive passthrough; each is
    // called only with an RF packet whose length suits its record.
    void HandleRxSync(const ssp_cmd_set_rx_passthrough_data_t& header, const uint8_t* rf, uint16_t rf_length);
    void HandleRxAnnounceResponse(const ssp_cmd_set_rx_passthrough_data_t& header, const uint8_t* rf,
                                  uint16_t rf_length);
    void HandleRxAnchorReport(const ssp_cmd_set_rx_passthrough_data_t& header, const uint8_t* rf,
                              uint16_t rf_length);
    void HandleRxTagReport(const ssp_cmd_set_rx_passthrough_data_t& header, const uint8_t* rf,
                           uint16_t rf_length);

    // Decodes the anchor report item at `offset` into `packet` and advances
    // the offset past it; false (with a message) for an item that is unknown
    // or does not fit in the report's `rfLength` bytes.
    bool _IsValidAnchorReportItem(const uint8_t* rfPacket, uint16_t& offset, VexPacket& packet,
                                  uint16_t rfLength);
    // Serial number of the node with that network id; 0 when there is none.
    uint32_t _FindSerialNumber(uint16_t networkId) const;
    void PublishInput(VexPacket& packet);

    struct PayloadRoute;
    struct RfPacketRoute;
    static const PayloadRoute kPayloadRoutes[];
    static const RfPacketRoute kRfPacketRoutes[];

    // Set in Init before the thread starts; read in the link's thread.
    std::shared_ptr<const NodeManager> registry_;
    std::shared_ptr<VexInputPublisher> publisher_;
    // Used only in the link's thread (after Init). On the heap: a frame
    // buffer each way makes it 3 KB.
    std::unique_ptr<ssp_state_t> ssp_;
    MessageThrottle device_messages_;

    std::atomic<uint32_t> link_state_{kStateNotInitialised};
    std::atomic<uint32_t> serial_number_{0};
    std::atomic<bool> shutting_down_{false};
    // Wakes SleepUnlessShuttingDown; guards nothing else.
    std::mutex sleep_mutex_;
    std::condition_variable sleep_wake_;
};
