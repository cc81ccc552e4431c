#include "host/devices/node_command_generator.h"

#include "config/flat_settings_interface.h"
#include "config/settings.h"

namespace {

// LED operations the devices show while they join: each kind blinks its own way.
constexpr uint8_t kLedUnconfigured = 0x0F;
constexpr uint8_t kLedTag = 0x30;
constexpr uint8_t kLedAnchor = 0x0C;
constexpr uint8_t kLedMaster = 0x33;

// Transmission types: a tag sends location beacons, a wireless anchor its reports.
constexpr uint8_t kTransmitTagBeacon = 3;
constexpr uint8_t kTransmitAnchorReport = 1;

// Collector settings of a wireless anchor, the pairs its firmware expects, in
// this order.
constexpr uint8_t kCollectorPairs[][2] = {{17, 16}, {21, 18}};

const char kWiredBackhaul[] = "wired";

std::shared_ptr<DwLedCommand> LedCommand(uint8_t operation) {
    auto command = std::make_shared<DwLedCommand>();
    command->SetLedOperation(operation);
    return command;
}

std::shared_ptr<DwTransmitCommand> TransmitCommand(uint8_t type, uint32_t repeatRate) {
    auto command = std::make_shared<DwTransmitCommand>();
    command->SetTransmissionType(type);
    command->SetRepeatRate(repeatRate);
    return command;
}

}  // namespace

NodeCommandGenerator::~NodeCommandGenerator() = default;

DwCommandList NodeCommandGenerator::AddressedLedList(std::shared_ptr<DwNode> node, uint8_t ledOperation) {
    DwCommandList list;
    AddAddressCommandsToList(std::move(node), list);
    list.push_back(LedCommand(ledOperation));
    return list;
}

DwCommandList NodeCommandGenerator::GetCommandsForNode(std::shared_ptr<DwNode> node,
                                                       const RfSchedulerSettings& budget) {
    if (!node)
        return {};
    if (node->IsAlienNode())
        return GetCommandsForAlienNode(node);
    if (!node->IsEnabled())
        return GetCommandsForDisabledNode(node, budget);
    // The kind tests and the classes agree for every node the registry makes;
    // a node whose class does not match its kind is treated as unconfigured.
    if (node->IsTagNode()) {
        if (auto tag = std::dynamic_pointer_cast<DwTag>(node))
            return GetCommandsForTag(tag, budget);
    } else if (node->IsAnchorNode()) {
        if (auto anchor = std::dynamic_pointer_cast<DwAnchor>(node))
            return GetCommandsForAnchor(anchor, budget);
    } else if (node->IsMasterNode()) {
        if (auto master = std::dynamic_pointer_cast<DwMaster>(node))
            return GetCommandsForMaster(master, budget);
    }
    return GetCommandsForUnconfiguredNode(node, budget);
}

void NodeCommandGenerator::AddAddressCommandsToList(std::shared_ptr<DwNode> node, DwCommandList& list) {
    auto address_set = std::make_shared<DwAddressSetCommand>();
    address_set->SetSerialNumber(node->GetSerialNumber());
    address_set->SetNetworkAddress(node->GetNetworkId());
    list.push_back(address_set);

    auto address_select = std::make_shared<DwAddressSelectCommand>();
    address_select->SetNetworkAddress(node->GetNetworkId());
    list.push_back(address_select);
}

DwCommandList NodeCommandGenerator::GetCommandsForAlienNode(std::shared_ptr<DwNode> node) {
    DwCommandList list;
    AddAddressCommandsToList(node, list);
    auto alien = std::dynamic_pointer_cast<DwAlienNode>(node);
    // Only alien nodes are sent here; anything else has no foreign RF settings to switch to.
    if (alien)
        list.push_back(std::make_shared<DwSetRfSettingsCommand>(alien->GetRfSettings()));
    return list;
}

DwCommandList NodeCommandGenerator::GetCommandsForUnconfiguredNode(std::shared_ptr<DwNode> node,
                                                                   const RfSchedulerSettings&) {
    return AddressedLedList(std::move(node), kLedUnconfigured);
}

DwCommandList NodeCommandGenerator::GetCommandsForDisabledNode(std::shared_ptr<DwNode> node,
                                                               const RfSchedulerSettings& budget) {
    return GetCommandsForUnconfiguredNode(node, budget);
}

DwCommandList VmlCommandGenerator::GetCommandsForTag(std::shared_ptr<DwTag> tag,
                                                     const RfSchedulerSettings& budget) {
    DwCommandList list = AddressedLedList(tag, kLedTag);
    list.push_back(TransmitCommand(kTransmitTagBeacon, budget.GetLocationCycle()));
    list.push_back(std::make_shared<DwSetUserDataSizeCommand>(budget.GetBeaconPayloadSize()));
    auto sensors = std::make_shared<DwSetSensorSettingsCommand>();
    sensors->SetSensorConfig(FlatSettingsInterface(Settings::GlobalSettings()).GetSensorSettings());
    list.push_back(sensors);
    return list;
}

DwCommandList VmlCommandGenerator::GetCommandsForAnchor(std::shared_ptr<DwAnchor> anchor,
                                                        const RfSchedulerSettings& budget) {
    DwCommandList list = AddressedLedList(anchor, kLedAnchor);
    if (anchor->GetBackhaulType() != kWiredBackhaul) {
        list.push_back(TransmitCommand(kTransmitAnchorReport, budget.GetLocationCycle()));
        auto collector = std::make_shared<DwSetCollectorPacketsCommand>();
        for (const auto& pair : kCollectorPairs)
            collector->AddCollectorSetting(pair[0], pair[1]);
        list.push_back(collector);
        auto report_size = std::make_shared<DwSetAnchorReportSizeCommand>();
        report_size->SetAnchorReportSize(budget.GetAnchorReportPayloadSize());
        list.push_back(report_size);
    }
    auto receive = std::make_shared<DwReceiveCommand>();
    receive->SetContinuous();
    list.push_back(receive);
    return list;
}

DwCommandList VmlCommandGenerator::GetCommandsForMaster(std::shared_ptr<DwMaster> master,
                                                        const RfSchedulerSettings&) {
    return AddressedLedList(std::move(master), kLedMaster);
}
