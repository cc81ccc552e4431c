#include "host/devices/node_manager.h"

#include <cmath>
#include <cstdio>

#include "base/geometry.h"
#include "base/serial_number.h"
#include "config/flat_settings_interface.h"

namespace {

std::shared_ptr<DwNode> FindIn(const DwNodeMap& nodes, uint32_t serialNumber) {
    const auto found = nodes.find(serialNumber);
    return found == nodes.end() ? nullptr : found->second;
}

std::shared_ptr<DwNode> OrNullNode(std::shared_ptr<DwNode> node, uint32_t serialNumber) {
    return node ? node : std::make_shared<DwNullNode>(serialNumber);
}

void PrintRepeatedSerialNumber(const char* kind, uint32_t serialNumber) {
    printf("NodeManager: %s %s is configured more than once; only the first is registered\n", kind,
           SerialNumber_ToString(serialNumber).c_str());
    fflush(stdout);
}

// A component of the average, or of the box's centre when there is no
// average (nothing to average, or a position that is not a number).
double CentroidComponent(double sum, uint32_t count, double minimum, double maximum) {
    const double mean = count > 0 ? sum / count * 1000.0 : std::nan("");
    return std::isfinite(mean) ? mean : (minimum + maximum) / 2.0;
}

// The tags' starting point in millimetres: the mean of the master's and the
// anchors' configured positions, moved inside the tag bounds.
Coordinates InfrastructureCentroid(const Coordinates& sums, uint32_t count, const BoundingBox& bounds) {
    const Coordinates low = bounds.GetMinCoordinates();
    const Coordinates high = bounds.GetMaxCoordinates();
    Coordinates centroid(CentroidComponent(sums.GetX(), count, low.GetX(), high.GetX()),
                         CentroidComponent(sums.GetY(), count, low.GetY(), high.GetY()),
                         CentroidComponent(sums.GetZ(), count, low.GetZ(), high.GetZ()));
    centroid.MoveInsideBounds(bounds);
    return centroid;
}

}  // namespace

NodeManager::NodeManager() : wireless_anchor_count_(0) {}

void NodeManager::Init(Settings* settings, uint32_t syncPeriodMs) {
    id_table_.clear();
    anchors_.clear();
    masters_.clear();
    tags_.clear();
    alien_nodes_.clear();
    wireless_anchor_count_ = 0;
    FlatSettingsInterface flat(settings);
    uint16_t next_id = 1;
    // Ids stop below the alien nodes' fixed id, so that no registered node
    // shares it (far more nodes than one network's time budget carries).
    bool out_of_ids_reported = false;
    auto id_available = [&]() {
        if (next_id < DwNode::kAlienNodeNetworkId)
            return true;
        if (!out_of_ids_reported) {
            printf("NodeManager: no network id left below %u; further nodes are not registered\n",
                   static_cast<unsigned>(DwNode::kAlienNodeNetworkId));
            fflush(stdout);
            out_of_ids_reported = true;
        }
        return false;
    };

    command_generator_ = std::make_shared<VmlCommandGenerator>();

    Coordinates sums(0.0, 0.0, 0.0);
    uint32_t count = 0;
    std::shared_ptr<DwNode> master;
    for (const MasterSettings& master_settings : flat.GetMasterList()) {
        if (!master_settings.GetEnabled())
            continue;
        master = std::make_shared<DwMaster>(master_settings, next_id, syncPeriodMs);
        id_table_.emplace(next_id++, master->GetSerialNumber());
        masters_.emplace(master->GetSerialNumber(), master);
        sums = Coordinates(master->GetX(), master->GetY(), master->GetZ());
        count = 1;
        break;
    }

    // Every enabled anchor and tag takes the next id in list order, a repeated
    // serial number too, so that the ids after a repeat are those the list
    // gives. The repeat is the first node's device again: its id is left
    // naming nothing, and it is not counted a second time in the centroid or
    // the wireless count.
    for (const AnchorSettings& anchor_settings : flat.GetAnchorList()) {
        if (!anchor_settings.GetEnabled() || !id_available())
            continue;
        const uint16_t id = next_id++;
        auto anchor = std::make_shared<DwAnchor>(anchor_settings, id, syncPeriodMs);
        if (!AddAnchor(anchor)) {
            PrintRepeatedSerialNumber("anchor", anchor->GetSerialNumber());
            continue;
        }
        ++count;
        sums += Coordinates(anchor->GetX(), anchor->GetY(), anchor->GetZ());
        if (master)
            anchor->GetClock().SetMasterDistTickOffset(anchor->GetCurrentPos3(), master->GetCurrentPos3());
        id_table_.emplace(id, anchor->GetSerialNumber());
    }

    const Coordinates centroid = InfrastructureCentroid(sums, count, flat.GetTagBounds());

    for (const TagSettings& tag_settings : flat.GetTagList()) {
        if (!tag_settings.GetEnabled() || !id_available())
            continue;
        const uint16_t id = next_id++;
        if (tags_.count(tag_settings.GetSerialNumber()) != 0) {
            PrintRepeatedSerialNumber("tag", tag_settings.GetSerialNumber());
            continue;
        }
        auto tag = std::make_shared<DwTag>(tag_settings, id, syncPeriodMs);
        tag->SetInitialPosition(centroid.GetX() / 1000.0, centroid.GetY() / 1000.0, centroid.GetZ() / 1000.0);
        id_table_.emplace(id, tag->GetSerialNumber());
        tags_.emplace(tag->GetSerialNumber(), tag);
    }

    for (const AlienNodeSettings& alien_settings : flat.GetAlienNodeList()) {
        auto alien = std::make_shared<DwAlienNode>(alien_settings);
        alien->SetNetworkId(DwNode::kAlienNodeNetworkId);
        alien_nodes_.emplace(alien->GetSerialNumber(), alien);
    }
}

uint32_t NodeManager::GetNumberOfTags() const {
    return static_cast<uint32_t>(tags_.size());
}

uint32_t NodeManager::GetNumberOfAnchors() const {
    return static_cast<uint32_t>(anchors_.size());
}

uint32_t NodeManager::GetNumberOfWirelessAnchors() const {
    return wireless_anchor_count_;
}

uint32_t NodeManager::GetNumberOfWiredAnchors() const {
    return GetNumberOfAnchors() - wireless_anchor_count_;
}

std::shared_ptr<DwNode> NodeManager::GetPrimaryMaster() const {
    return masters_.empty() ? nullptr : masters_.begin()->second;
}

DwNodeMap NodeManager::GetAnchors() const {
    return anchors_;
}

uint32_t NodeManager::GetNodeSerialNumberFromId(uint16_t networkId) const {
    const auto found = id_table_.find(networkId);
    return found == id_table_.end() ? 0 : found->second;
}

std::shared_ptr<DwNode> NodeManager::FindNodeBySerialNumber(uint32_t serialNumber) const {
    for (const DwNodeMap* nodes : {&tags_, &anchors_, &masters_, &alien_nodes_}) {
        if (auto node = FindIn(*nodes, serialNumber))
            return node;
    }
    return std::make_shared<DwNullNode>(serialNumber);
}

std::shared_ptr<DwNode> NodeManager::FindMasterBySerialNumber(uint32_t serialNumber) const {
    return OrNullNode(FindIn(masters_, serialNumber), serialNumber);
}

std::shared_ptr<DwNode> NodeManager::FindAnchorBySerialNumber(uint32_t serialNumber) const {
    return OrNullNode(FindIn(anchors_, serialNumber), serialNumber);
}

std::shared_ptr<DwNode> NodeManager::FindTagBySerialNumber(uint32_t serialNumber) const {
    return OrNullNode(FindIn(tags_, serialNumber), serialNumber);
}

std::shared_ptr<DwNode> NodeManager::FindAlienNodeBySerialNumber(uint32_t serialNumber) const {
    return OrNullNode(FindIn(alien_nodes_, serialNumber), serialNumber);
}

std::shared_ptr<DwNode> NodeManager::FindNodeById(uint16_t networkId) const {
    const uint32_t serial_number = GetNodeSerialNumberFromId(networkId);
    if (serial_number == 0)
        return nullptr;
    for (const DwNodeMap* nodes : {&tags_, &anchors_, &masters_}) {
        if (auto node = FindIn(*nodes, serial_number))
            return node;
    }
    return std::make_shared<DwNullNode>(serial_number);
}

std::shared_ptr<DwNode> NodeManager::FindAnchorById(uint16_t networkId) const {
    const uint32_t serial_number = GetNodeSerialNumberFromId(networkId);
    return OrNullNode(serial_number == 0 ? nullptr : FindIn(anchors_, serial_number), serial_number);
}

std::shared_ptr<DwNode> NodeManager::FindTagById(uint16_t networkId) const {
    const uint32_t serial_number = GetNodeSerialNumberFromId(networkId);
    return OrNullNode(serial_number == 0 ? nullptr : FindIn(tags_, serial_number), serial_number);
}

std::shared_ptr<DwNode> NodeManager::FindMasterById(uint16_t networkId) const {
    const uint32_t serial_number = GetNodeSerialNumberFromId(networkId);
    return OrNullNode(serial_number == 0 ? nullptr : FindIn(masters_, serial_number), serial_number);
}

bool NodeManager::AddAnchor(std::shared_ptr<DwAnchor> anchor) {
    if (!anchor)
        return false;
    const bool inserted = anchors_.emplace(anchor->GetSerialNumber(), anchor).second;
    if (inserted && anchor->IsWireless())
        ++wireless_anchor_count_;
    return inserted;
}

DwCommandList NodeManager::GetCommandsForNode(std::shared_ptr<DwNode> node,
                                              const RfSchedulerSettings& budget) const {
    if (!command_generator_ || !node)
        return {};
    return command_generator_->GetCommandsForNode(std::move(node), budget);
}

DwCommandList NodeManager::GetCommandsForNodeWithSerialNumber(uint32_t serialNumber,
                                                              const RfSchedulerSettings& budget) const {
    return GetCommandsForNode(FindNodeBySerialNumber(serialNumber), budget);
}
