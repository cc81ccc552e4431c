#pragma once
// A two-way-ranging exchange on the location engine's test site
// (support/dpu_test_site.h): the site's first tag ranges with the master,
// and the four anchors overhear it. Network ids, positions and antenna delays
// are those the site's registry gives the nodes, so the reports can be read
// through the real registry.

#include "host/dpu/twr_exchange_generator.h"
#include "support/dpu_test_site.h"

namespace twr_test {

// Where the tag really is; the site's registry does not know it.
constexpr Point kSiteTagPosition{4.0, 5.0, 1.2};

inline ExchangeSetup SiteExchange() {
    // Ids as the registry hands them out: the master 1, the anchors 2 to 5
    // in configuration order, the first tag 6.
    ExchangeSetup setup;
    setup.initiator = SimDevice{dpu_test_site::kTag, 6, kSiteTagPosition, 16442, 4.1e11, 3.5};
    setup.responder = SimDevice{dpu_test_site::kMaster, 1, {5.0, 0.0, 2.0}, 16450, kWrap - 3e7, -7.25};
    const Point anchors[] = {{0.0, 0.0, 2.5}, {10.0, 0.0, 2.5}, {10.0, 8.0, 0.5}, {0.0, 8.0, 3.0}};
    for (int i = 0; i < 4; ++i) {
        setup.snoops.push_back(SimDevice{dpu_test_site::kAnchors[i], static_cast<uint16_t>(2 + i), anchors[i],
                                         16440 + i, 1e11 * (i + 1), 2.0 * i - 3.0});
    }
    setup.item_serials = false;
    return setup;
}

}  // namespace twr_test
