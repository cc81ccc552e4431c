#pragma once
// Reading the items of an anchor report for two-way ranging: which device
// sent the packet an item describes, when it sent it (its clock) and when the
// reporting device received it (the reporter's clock).

#include <cstdint>
#include <functional>

#include "protocol/packets/rx_passthrough_data_packet.h"
#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"

class Dpu;

// The serial number the node registry gives a network id; 0 when no node has it.
using NetworkIdLookup = std::function<uint32_t(uint16_t network_id)>;

class DerazudAnchorReportItemUtils {
  public:
    // When the item's serial number is invalid, replaces it by the registry's
    // serial number for the transmitter's network id: a compact item's, or
    // the one in the head of the packet a full item embeds (a sync's
    // broadcast id read as the master's). Announce responses carry no id.
    static void UpdateSerialNumber(derazud_anchor_rpt_item_t* item, const NetworkIdLookup& lookup);

    // id and txTime of the packet the item describes, rxTime of its reception.
    // A packet without a transmit time gives txTime -1 (and id 0 for one this
    // server cannot read). A compact item's transmit time is given with its
    // low 9 bits cleared (the 512-tick grid of the radio's delayed
    // transmissions); a full item's is the time its embedded packet carries,
    // unchanged.
    static void GetTwrDataFromItem(uint16_t& id, int64_t& txTime, int64_t& rxTime,
                                   const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromCompactItem(uint16_t& id, int64_t& txTime,
                                          const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromFullItem(uint16_t& id, int64_t& txTime, const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromSync(uint16_t& id, int64_t& txTime, const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromTagRpt(uint16_t& id, int64_t& txTime, const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromAnchorRpt(uint16_t& id, int64_t& txTime, const derazud_anchor_rpt_item_t* item);
    static bool CompactItemHasTxTimestamp(const derazud_anchor_rpt_item_t* item);

    // The transmit-time grid of compact items and of a report's own transmit
    // time: a delayed transmission ignores the low 9 bits.
    static constexpr uint64_t kTransmitTimeMask = 0xFFFFFFFE00;
};

class DerazudUsbAnchorReportUtils {
  public:
    // Ranging reports keep this many bytes ahead of their first item.
    static constexpr int kFirstItemOffset = 22;

    // Calls `visit` for each item of the report, in order, with its serial
    // number filled in (UpdateSerialNumber above). The walk stops at the
    // first item that does not decode or at the end of the report's payload:
    // every item is read within the payload the report carries.
    static void ForEachItem(const derazud_usb_anchor_rpt_t* report, const NetworkIdLookup& lookup,
                            const std::function<void(const derazud_anchor_rpt_item_t&)>& visit);

    // The first item whose serial number is `serial`; otherwise an item whose
    // serial number is 0.
    static derazud_anchor_rpt_item_t FindPacketInAnchorRptForSerialNum(const derazud_usb_anchor_rpt_t* report,
                                                                       uint32_t serial,
                                                                       const NetworkIdLookup& lookup);

    // When the report's serial number is invalid, replaces it by the
    // registry's serial number for the report's network id.
    static void UpdateSerialNumber(derazud_usb_anchor_rpt_t* report, const NetworkIdLookup& lookup);

    // Rebuilds the record of an anchor report a device received: `buffer`
    // holds the RF anchor report (its 10-byte head, then its items, each a
    // report item header whose length field delimits it and a compact or
    // full body) and `rxData` the reception. The items go from byte 22 of the
    // record's payload on, each with the serial number of its transmitter;
    // the report's and the items' serial numbers come from the location
    // engine's registry (0 where the engine, its registry or the network id
    // is unknown). The walk stops at the end of the buffer, at an item that
    // is cut short, announces an impossible length or no longer fits the
    // record, and at an unknown item type (reported). An item count that
    // differs from the items found is reported, and the record counts the
    // items it holds. Returns the bytes of the buffer taken (the head and the
    // items), or -1 when the buffer holds no anchor report head.
    static int ConvertRawBuffToDerAzudAnchorRpt(const ssp_cmd_set_rx_passthrough_data_t* rxData,
                                                derazud_usb_anchor_rpt_t* report, const uint8_t* buffer,
                                                int length, const Dpu* dpu);
    // The same with the network ids resolved by `lookup`.
    static int ConvertRawBuffToDerAzudAnchorRpt(const ssp_cmd_set_rx_passthrough_data_t* rxData,
                                                derazud_usb_anchor_rpt_t* report, const uint8_t* buffer,
                                                int length, const NetworkIdLookup& lookup);
};
