#pragma once
// What the simulator knows about its site: every device with its role, true
// position or motion, clock and link, and the physics of the radio. The site
// is fixed once the simulator starts; everything here is plain data, read by
// the simulator thread and by callers alike without a lock.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/geometry.h"

class Settings;

enum class SimRole { kMaster, kAnchor, kTag };

// How a device is attached to the server: not at all (tags, anchors that
// report over the air), a USB serial port (a pseudo-terminal here) or Ethernet
// (UDP on the loopback interface).
enum class SimLinkKind { kNone, kUsb, kEthernet };

enum class SimMotionKind {
    kStatic,  // stays at `position`
    kCircle,  // around `centre` in the horizontal plane at the height of `centre`
    kLine,    // back and forth between `position` and `end` at constant speed
};

struct sim_motion_t {
    SimMotionKind kind = SimMotionKind::kStatic;
    Coordinates centre;
    double radius = 0.0;  // metres
    Coordinates end;
    double period_s = 20.0;  // one full circle, or there and back again
};

struct sim_device_t {
    uint32_t serial_number = 0;
    SimRole role = SimRole::kTag;
    bool enabled = true;
    Coordinates position;  // metres; the start point of a moving tag
    sim_motion_t motion;
    SimLinkKind link = SimLinkKind::kNone;
    std::string usb_path;        // the symlink the server's site file names
    uint16_t ethernet_port = 0;  // local UDP port of an Ethernet device; 0 picks a free one
    // Device clock against true time: an offset into the 40-bit counter and a
    // drift in parts per million. Left NaN, they are drawn from the site's seed.
    double clock_offset_ticks = std::numeric_limits<double>::quiet_NaN();
    double clock_drift_ppm = std::numeric_limits<double>::quiet_NaN();
};

struct sim_site_t {
    std::vector<sim_device_t> devices;
    double speed_of_light = 299792458.0;  // m/s; the server's configured value
    double tof_noise_m = 0.02;            // standard deviation of every timestamp, in metres
    double max_clock_drift_ppm = 5.0;
    uint32_t seed = 1;
    bool prf_64mhz = true;            // picks the receiver constant of the signal values
    uint16_t preamble_symbols = 128;  // sizes the preamble accumulation count
    // Ethernet devices announce themselves on the device configuration stream.
    std::string config_group = "239.255.76.67";
    uint16_t config_port = 7670;
    std::string interface_address = "127.0.0.1";  // loopback: the devices' own address
    uint32_t announce_period_ms = 1000;
    // True positions: a CSV file (empty: none) and a Vuv stream of position
    // items (port 0: none), one record per tag transmission.
    std::string truth_csv_path;
    std::string truth_group = "239.255.76.67";
    uint16_t truth_port = 0;

    const sim_device_t* Find(uint32_t serial_number) const;
};

// The true position of a device at true time t (seconds since the start).
Coordinates SimDevicePosition(const sim_device_t& device, double t);

// Builds a site from the server's configuration (master, anchors and tags with
// their positions and enabled flags, RF settings, speed of light) and a small
// site file (JSON) that adds what the configuration does not hold: links,
// tag positions and motions, noise, clocks, seed, streams. The site file names
// the configuration as "server config" (relative to the site file), or
// `config_path` does. Returns false with a message in `error`.
bool LoadSimSite(const std::string& site_path, const std::string& config_path, sim_site_t* site,
                 Settings* settings, std::string* error);

// Fills `settings` (kept as loaded where the site says nothing) with the
// site's devices, the anchors with a link as "wired", the others "uwb", and
// the USB devices' paths as the serial ports, so that the server's file and
// the site agree.
void ApplySimSiteToSettings(const sim_site_t& site, Settings* settings);

// Writes the server configuration file for the site.
bool WriteServerConfigForSite(const sim_site_t& site, Settings* settings, const std::string& path);
