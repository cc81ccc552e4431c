// The two-way-ranging engine's intake: AddData over the reports of whole
// exchanges (the ranging pair's four reports and one per snoop), with the
// items naming their transmitters or leaving them to the network-id lookup;
// and the rebuilding of a received raw anchor report into its record.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "host/dpu/derazud_anchor_report_utils.h"
#include "host/dpu/twr_exchange_generator.h"
#include "host/dpu/twr_snoop_engine.h"

namespace {

using twr_test::ExchangeSetup;
using twr_test::SimDevice;

ExchangeSetup Setup(int snoops, bool itemSerials) {
    ExchangeSetup setup;
    setup.initiator = SimDevice{0x01000002, 2, {3.2, 4.1, 1.0}, 16440, twr_test::kWrap - 2e7, 4.0};
    setup.responder = SimDevice{0x01000003, 3, {1.0, 1.0, 2.5}, 16450, 3e11, -6.0};
    const twr_test::Point places[] = {{6.0, 1.0, 2.5}, {1.0, 7.0, 2.0}, {6.0, 7.0, 0.3}};
    for (int i = 0; i < snoops; ++i) {
        setup.snoops.push_back(SimDevice{0x01000004u + static_cast<uint32_t>(i), static_cast<uint16_t>(4 + i),
                                         places[i], 16460 + i, 1e11 * (i + 1), 1.5 * i});
    }
    setup.item_serials = itemSerials;
    return setup;
}

// Network id n belongs to 01:00:000n.
uint32_t SerialOf(uint16_t id) {
    return id > 0 && id < 16 ? 0x01000000u | id : 0;
}

// Arguments: snoops per exchange; 1 when the items carry serial numbers, 0
// when each is looked up by network id.
void BM_AddDataExchange(benchmark::State& state) {
    const ExchangeSetup setup = Setup(static_cast<int>(state.range(0)), state.range(1) != 0);
    const std::vector<derazud_usb_anchor_rpt_t> reports = twr_test::Generate(setup).reports;
    TwrSnoopEngine engine;
    engine.SetNetworkIdLookup(SerialOf);
    engine.AddTwrSnoopDevices(setup.initiator.serial, setup.initiator.antenna_delay, setup.responder.serial,
                              setup.responder.antenna_delay);
    long counter = 0;
    for (auto _ : state) {
        // A counter that breaks the sequence: every exchange starts afresh.
        counter += 10;
        for (const derazud_usb_anchor_rpt_t& report : reports) {
            engine.AddData(&report, counter, 1);
        }
        benchmark::DoNotOptimize(engine.GetPairs().front()->messages);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(reports.size()));
}
BENCHMARK(BM_AddDataExchange)->Args({0, 1})->Args({3, 1})->Args({3, 0});

// A snoop's report of the three messages of an exchange, as received.
void BM_ConvertRawAnchorReport(benchmark::State& state) {
    const std::vector<uint8_t> raw = twr_test::Generate(Setup(1, false)).raw_reports.back();
    const ssp_cmd_set_rx_passthrough_data_t reception{0x13, 0, 123456789, {1, 2, 3, 4, 5, 6}, 0};
    const NetworkIdLookup lookup = SerialOf;
    auto report = std::make_unique<derazud_usb_anchor_rpt_t>();
    for (auto _ : state) {
        benchmark::DoNotOptimize(DerazudUsbAnchorReportUtils::ConvertRawBuffToDerAzudAnchorRpt(
            &reception, report.get(), raw.data(), static_cast<int>(raw.size()), lookup));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(raw.size()));
}
BENCHMARK(BM_ConvertRawAnchorReport);

}  // namespace
