#pragma once
// Command generators: the list of device commands a device is told when it
// joins the network, chosen by the node's kind and state. Stateless; lists may
// be built from any thread.

#include <memory>
#include <vector>

#include "host/devices/dw_command.h"
#include "host/devices/dw_node.h"
#include "host/scheduling/rf_scheduler_settings.h"

using DwCommandList = std::vector<std::shared_ptr<DwCommand>>;

class NodeCommandGenerator {
  public:
    NodeCommandGenerator() = default;
    virtual ~NodeCommandGenerator();

    // Alien node: its foreign network's RF settings.
    virtual DwCommandList GetCommandsForAlienNode(std::shared_ptr<DwNode> node);
    // Blink, nothing else.
    virtual DwCommandList GetCommandsForUnconfiguredNode(std::shared_ptr<DwNode> node,
                                                         const RfSchedulerSettings& budget);
    // The unconfigured node's list.
    virtual DwCommandList GetCommandsForDisabledNode(std::shared_ptr<DwNode> node,
                                                     const RfSchedulerSettings& budget);
    virtual DwCommandList GetCommandsForTag(std::shared_ptr<DwTag> tag,
                                            const RfSchedulerSettings& budget) = 0;
    virtual DwCommandList GetCommandsForAnchor(std::shared_ptr<DwAnchor> anchor,
                                               const RfSchedulerSettings& budget) = 0;
    virtual DwCommandList GetCommandsForMaster(std::shared_ptr<DwMaster> master,
                                               const RfSchedulerSettings& budget) = 0;

    // Alien, else disabled (a null node is never enabled), else tag, anchor,
    // master, else unconfigured. An empty pointer gets an empty list.
    DwCommandList GetCommandsForNode(std::shared_ptr<DwNode> node, const RfSchedulerSettings& budget);
    // The address set and address select commands every list begins with.
    void AddAddressCommandsToList(std::shared_ptr<DwNode> node, DwCommandList& list);

  protected:
    // The address pair followed by an LED command with the given operation.
    DwCommandList AddressedLedList(std::shared_ptr<DwNode> node, uint8_t ledOperation);
};

class VmlCommandGenerator final : public NodeCommandGenerator {
  public:
    VmlCommandGenerator() = default;

    DwCommandList GetCommandsForTag(std::shared_ptr<DwTag> tag, const RfSchedulerSettings& budget) override;
    DwCommandList GetCommandsForAnchor(std::shared_ptr<DwAnchor> anchor,
                                       const RfSchedulerSettings& budget) override;
    DwCommandList GetCommandsForMaster(std::shared_ptr<DwMaster> master,
                                       const RfSchedulerSettings& budget) override;
};
