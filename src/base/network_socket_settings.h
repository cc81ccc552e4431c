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

// The receive buffer asked of the system for every socket that takes device
// or Vuv datagrams (the system caps it at net.core.rmem_max). The default,
// about 200 KB, holds only a few hundred small datagrams: about 10 ms of an
// Internal stream that ten devices feed at 2000 payloads a second each, less
// than a reading thread may be kept from running on a busy machine. This
// holds some thousands.
constexpr int kSocketReceiveBufferBytes = 4 * 1024 * 1024;

// Asks for that buffer on a socket; false when the system refused (its
// default then stays, with which the socket still works). Set it after each
// bind: a re-bind may make a new descriptor.
bool RequestSocketReceiveBuffer(int descriptor);

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
