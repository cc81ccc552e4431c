#pragma once
// The registry of every device the server knows while the host runs: the
// master, the anchors, the tags and the nodes of foreign networks. Built from
// the settings at each host start; hands the nodes out as shared pointers.
//
// No lock: Init fills the registry in the thread that starts the host before
// anyone else sees it, and afterwards it is only read (device-link threads,
// the Backlink's receiver thread, solver threads, the user interface). The
// nodes guard their own mutable state.

#include <cstdint>
#include <map>
#include <memory>

#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "host/devices/node_command_generator.h"
#include "host/scheduling/rf_scheduler_settings.h"

class NodeManager {
  public:
    NodeManager();

    // Registers the first enabled master, the enabled anchors and the enabled
    // tags with network ids 1, 2, 3 ... in that order, and every alien node.
    void Init(Settings* settings, uint32_t syncPeriodMs);

    uint32_t GetNumberOfTags() const;
    uint32_t GetNumberOfAnchors() const;
    uint32_t GetNumberOfWirelessAnchors() const;
    uint32_t GetNumberOfWiredAnchors() const;

    // The master with the lowest serial number; empty when there is none.
    std::shared_ptr<DwNode> GetPrimaryMaster() const;
    DwNodeMap GetAnchors() const;
    // 0 when the id is unknown.
    uint32_t GetNodeSerialNumberFromId(uint16_t networkId) const;

    // Lookups by serial number never return an empty pointer: a failed one
    // returns a DwNullNode carrying the serial number asked for.
    std::shared_ptr<DwNode> FindNodeBySerialNumber(uint32_t serialNumber) const;
    std::shared_ptr<DwNode> FindMasterBySerialNumber(uint32_t serialNumber) const;
    std::shared_ptr<DwNode> FindAnchorBySerialNumber(uint32_t serialNumber) const;
    std::shared_ptr<DwNode> FindTagBySerialNumber(uint32_t serialNumber) const;
    std::shared_ptr<DwNode> FindAlienNodeBySerialNumber(uint32_t serialNumber) const;

    // Empty when the id is unknown; else the tag, anchor or master, else a
    // DwNullNode carrying the id's serial number.
    std::shared_ptr<DwNode> FindNodeById(uint16_t networkId) const;
    // A DwNullNode carrying 0 when the id is unknown; else the node of that
    // kind, else a DwNullNode carrying the id's serial number.
    std::shared_ptr<DwNode> FindAnchorById(uint16_t networkId) const;
    std::shared_ptr<DwNode> FindTagById(uint16_t networkId) const;
    std::shared_ptr<DwNode> FindMasterById(uint16_t networkId) const;

    // Keeps an anchor already registered under the same serial number; counts
    // the anchor as wireless only when it was inserted. Returns whether it was.
    bool AddAnchor(std::shared_ptr<DwAnchor> anchor);

    // Empty before Init or for an empty pointer.
    DwCommandList GetCommandsForNode(std::shared_ptr<DwNode> node, const RfSchedulerSettings& budget) const;
    DwCommandList GetCommandsForNodeWithSerialNumber(uint32_t serialNumber,
                                                     const RfSchedulerSettings& budget) const;

  private:
    std::map<uint16_t, uint32_t> id_table_;
    DwNodeMap anchors_;
    DwNodeMap masters_;
    DwNodeMap tags_;
    DwNodeMap alien_nodes_;
    uint32_t wireless_anchor_count_;
    std::shared_ptr<NodeCommandGenerator> command_generator_;
};
