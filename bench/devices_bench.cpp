// Node lookups run once per received item (by serial number) and once per
// anchor of every solve (by network id); a failed lookup happens for every
// reception of a foreign tag. The smoothed position is read once per solve.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "host/devices/node_manager.h"

namespace {

constexpr uint32_t kAnchors = 64;
constexpr uint32_t kTags = 1000;
constexpr uint32_t kSyncPeriodMs = 100;

struct registry_fixture_t {
    Settings settings;
    NodeManager registry;
    std::vector<uint32_t> tag_serials;
    std::vector<uint16_t> anchor_ids;
    std::vector<uint16_t> node_ids;

    registry_fixture_t() {
        RfNetworkSettings* rf = settings.GetRfNetworkSettingsReference();
        MasterSettings master;
        master.SetSerialNumber(0x01020001);
        rf->SetMasters({master});
        std::vector<AnchorSettings> anchors;
        for (uint32_t i = 0; i < kAnchors; ++i) {
            AnchorSettings anchor;
            anchor.SetSerialNumber(0x01030000 + i);
            anchor.SetX(i);
            anchors.push_back(anchor);
        }
        rf->SetAnchors(anchors);
        std::vector<TagSettings> tags;
        for (uint32_t i = 0; i < kTags; ++i) {
            TagSettings tag;
            tag.SetSerialNumber(0x01040000 + i * 7);
            tags.push_back(tag);
            tag_serials.push_back(tag.GetSerialNumber());
        }
        rf->SetTags(tags);
        registry.Init(&settings, kSyncPeriodMs);
        for (uint16_t id = 1; id <= 1 + kAnchors + kTags; ++id) {
            node_ids.push_back(id);
            if (id >= 2 && id < 2 + kAnchors)
                anchor_ids.push_back(id);
        }
    }
};

registry_fixture_t& Fixture() {
    static registry_fixture_t fixture;
    return fixture;
}

// Looks the keys up in a stride that does not follow the maps' order.
template <typename Key, typename Lookup>
void CycleLookups(benchmark::State& state, const std::vector<Key>& keys, Lookup lookup) {
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lookup(keys[i]));
        i = (i + 97) % keys.size();
    }
}

void BM_FindNodeBySerialNumber_Hit(benchmark::State& state) {
    const registry_fixture_t& f = Fixture();
    CycleLookups(state, f.tag_serials,
                 [&f](uint32_t serial) { return f.registry.FindNodeBySerialNumber(serial); });
}
BENCHMARK(BM_FindNodeBySerialNumber_Hit);

// The master is searched for last among the registered kinds.
void BM_FindNodeBySerialNumber_MasterHit(benchmark::State& state) {
    const registry_fixture_t& f = Fixture();
    const std::vector<uint32_t> master{f.registry.GetPrimaryMaster()->GetSerialNumber()};
    CycleLookups(state, master, [&f](uint32_t serial) { return f.registry.FindNodeBySerialNumber(serial); });
}
BENCHMARK(BM_FindNodeBySerialNumber_MasterHit);

void BM_FindTagBySerialNumber_Hit(benchmark::State& state) {
    const registry_fixture_t& f = Fixture();
    CycleLookups(state, f.tag_serials,
                 [&f](uint32_t serial) { return f.registry.FindTagBySerialNumber(serial); });
}
BENCHMARK(BM_FindTagBySerialNumber_Hit);

void BM_FindNodeById_Hit(benchmark::State& state) {
    const registry_fixture_t& f = Fixture();
    CycleLookups(state, f.node_ids, [&f](uint16_t id) { return f.registry.FindNodeById(id); });
}
BENCHMARK(BM_FindNodeById_Hit);

void BM_FindAnchorById_Hit(benchmark::State& state) {
    const registry_fixture_t& f = Fixture();
    CycleLookups(state, f.anchor_ids, [&f](uint16_t id) { return f.registry.FindAnchorById(id); });
}
BENCHMARK(BM_FindAnchorById_Hit);

void BM_GetNodeSerialNumberFromId(benchmark::State& state) {
    const registry_fixture_t& f = Fixture();
    CycleLookups(state, f.node_ids, [&f](uint16_t id) { return f.registry.GetNodeSerialNumberFromId(id); });
}
BENCHMARK(BM_GetNodeSerialNumberFromId);

// A foreign tag: the lookup builds a null node.
void BM_FindTagBySerialNumber_Miss(benchmark::State& state) {
    const registry_fixture_t& f = Fixture();
    uint32_t serial = 0x0A000000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.registry.FindTagBySerialNumber(serial));
        ++serial;
    }
}
BENCHMARK(BM_FindTagBySerialNumber_Miss);

// One solve's store and read of a tag's position with a smoothing factor of 5.
void BM_StoreAndSmoothPosition(benchmark::State& state) {
    FlatSettingsInterface(Settings::GlobalSettings()).SetSmoothingFactor(5);
    TagSettings settings;
    settings.SetSerialNumber(0x01040001);
    DwTag tag(settings, 2, kSyncPeriodMs);
    derazud_pos3_t position{};
    int64_t time_ms = 0;
    for (auto _ : state) {
        position.x = static_cast<float>(time_ms % 1000) / 100.0f;
        position.creation_time = time_ms;
        tag.SetCurrentPos3(position);
        benchmark::DoNotOptimize(tag.GetSmoothedPositionData());
        time_ms += kSyncPeriodMs;
    }
}
BENCHMARK(BM_StoreAndSmoothPosition);

}  // namespace
