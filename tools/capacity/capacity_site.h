#pragma once
// The capacity site: a master, wired anchors (some on pseudo-terminals, the
// others on Ethernet in unicast mode) and as many moving tags as the RF
// budget carries at 10 Hz. Written as a server configuration and a simulator
// site file that names it, both generated from a seed, so that every run of
// the capacity measurement faces the same site.
#include <cstdint>
#include <string>

struct capacity_site_options_t {
    int tags = 250;
    int anchors = 16;
    int usb_anchors = 8;  // the first ones; the rest are Ethernet devices
    double tag_rate_hz = 10.0;
    uint32_t seed = 7;
    // One tag in this many stands still (its error shows the solver without
    // the smoothing lag of a moving tag); 0: every tag moves.
    int static_every = 10;
    // The Internal stream is unicast on the loopback address, so that the
    // server tells its Ethernet devices to send their frames to each link's
    // own socket; the External stream is multicast.
    uint16_t internal_port = 45600;
    std::string external_group = "239.255.76.68";
    uint16_t external_port = 45601;
    // Where the pseudo-terminals' names go (absolute).
    std::string tty_dir;
};

// Writes `directory`/server.cfg and `directory`/site.json and checks the
// pair by loading it as the simulator does (through the server's own loading
// chain). False with a message in `error`.
bool WriteCapacitySite(const capacity_site_options_t& options, const std::string& directory,
                       std::string* error);

// Serial numbers of the site's devices: vendor 0x0C, product 0xA0 for the
// infrastructure and 0xA1 for the tags, so that they meet no other site's.
uint32_t CapacityMasterSerial();
uint32_t CapacityAnchorSerial(int index);
uint32_t CapacityTagSerial(int index);
