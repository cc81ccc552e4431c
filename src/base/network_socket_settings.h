#pragma once
// One UDP multicast socket: group address, port, TTL and the network interface it uses.

#include <cstdint>
#include <string>

// Every Vuv stream socket starts from these values; the device configuration
// stream always uses kDeviceConfigStreamPort.
constexpr const char* kDefaultStreamAddress = "239.255.76.67";
constexpr uint16_t kDefaultStreamPort = 7667;
constexpr uint16_t kDefaultStreamTtl = 1;
constexpr const char* kDefaultStreamInterface = "lo";
constexpr uint16_t kDeviceConfigStreamPort = 7670;

class NetworkSocketSettings {
  public:
    NetworkSocketSettings(const std::string& address, uint16_t port, uint16_t ttl,
                          const std::string& network_iface);
    // The default stream socket.
    static NetworkSocketSettings Default() {
        return NetworkSocketSettings(kDefaultStreamAddress, kDefaultStreamPort, kDefaultStreamTtl,
                                     kDefaultStreamInterface);
    }

    std::string GetAddress() const { return address_; }
    void SetAddress(const std::string& address) { address_ = address; }
    uint16_t GetPort() const { return port_; }
    void SetPort(uint16_t port) { port_ = port; }
    uint16_t GetTtl() const { return ttl_; }
    void SetTtl(uint16_t ttl) { ttl_ = ttl; }
    std::string GetNetworkIface() const { return network_iface_; }
    void SetNetworkIface(const std::string& network_iface) { network_iface_ = network_iface; }

    // Equal sockets let one connection serve both Vuv streams.
    bool operator==(const NetworkSocketSettings& other) const;
    bool operator!=(const NetworkSocketSettings& other) const { return !(*this == other); }

    // "udpm://<address>:<port>?ttl=<ttl> on <<interface>>" on standard output.
    void Print() const;

  private:
    std::string address_;
    uint16_t port_;
    uint16_t ttl_;
    std::string network_iface_;
};
