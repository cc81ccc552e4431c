#pragma once
// Reading the items of an anchor report for two-way ranging: which device
// sent the packet an item describes, when it sent it (its clock) and when the
// reporting device received it (the reporter's clock).

#include <cstdint>
#include <functional>

#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"

// The serial number the node registry gives a network id; 0 when no node has it.
using NetworkIdLookup = std::function<uint32_t(uint16_t network_id)>;

class DerazudAnchorReportItemUtils {
  public:
    // When the item's serial number is invalid, replaces it by the registry's
    // serial number for the transmitter's network id (none for announce
    // responses, which carry no id).
    static void UpdateSerialNumber(derazud_anchor_rpt_item_t* item, const NetworkIdLookup& lookup);

    // id and txTime of the packet the item describes, rxTime of its reception.
    // A packet without a transmit time gives txTime -1 (and id 0 for one this
    // server cannot read). Transmit times are given with their low 9 bits
    // cleared: the radio starts a delayed transmission on that 512-tick grid,
    // so the cleared value is when the packet actually left, and the same
    // packet reported in a compact or a full item gets the same time.
    static void GetTwrDataFromItem(uint16_t& id, int64_t& txTime, int64_t& rxTime,
                                   const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromCompactItem(uint16_t& id, int64_t& txTime,
                                          const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromFullItem(uint16_t& id, int64_t& txTime, const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromSync(uint16_t& id, int64_t& txTime, const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromTagRpt(uint16_t& id, int64_t& txTime, const derazud_anchor_rpt_item_t* item);
    static void GetTwrDataFromAnchorRpt(uint16_t& id, int64_t& txTime, const derazud_anchor_rpt_item_t* item);
    static bool CompactItemHasTxTimestamp(const derazud_anchor_rpt_item_t* item);

    // The transmit-time grid: a delayed transmission ignores the low 9 bits.
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
};
