#pragma once
// The two ways a simulated device is attached: a pseudo-terminal standing in
// for a USB serial port, and a UDP socket on the loopback interface. Plain
// POSIX descriptors, non-blocking, used by the simulator thread only.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

// A pseudo-terminal whose slave the server opens through a symlink at `path`
// (a stable name, as a udev rule gives a real device). The simulator keeps a
// slave descriptor of its own open so that the master side never sees a
// hang-up while the server has the port closed.
class PtyPort {
  public:
    PtyPort() = default;
    ~PtyPort() { Close(); }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // A new pseudo-terminal in raw mode, and `path` pointing at its slave
    // (replaced atomically when it exists). False with a message on failure.
    bool Open(const std::string& path, std::string* error);
    // Closes both sides and removes the symlink: to the server the device is unplugged.
    void Close();
    bool IsOpen() const { return master_fd_ >= 0; }
    int Fd() const { return master_fd_; }
    std::string SlaveName() const { return slave_name_; }
    // Writes what fits; a full buffer (nobody reading) drops the rest, as a
    // device writing to a port nobody reads would. Returns the bytes dropped.
    size_t Write(const uint8_t* data, size_t length);
    // Reads what is there; returns the count, 0 when nothing, -1 on error.
    long Read(uint8_t* buffer, size_t capacity);

  private:
    int master_fd_ = -1;
    int slave_fd_ = -1;
    std::string path_;
    std::string slave_name_;
};

// A UDP socket bound to an IPv4 address and port, able to send to unicast
// and multicast destinations on the interface of its address.
class UdpPort {
  public:
    UdpPort() = default;
    ~UdpPort() { Close(); }
    UdpPort(const UdpPort&) = delete;
    UdpPort& operator=(const UdpPort&) = delete;

    bool Open(const std::string& address, uint16_t port, std::string* error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    uint16_t LocalPort() const { return local_port_; }
    bool SendTo(uint32_t address, uint16_t port, const uint8_t* data, size_t length);
    // One datagram; returns its length, -1 when none is pending.
    long Receive(uint8_t* buffer, size_t capacity, uint32_t* from_address, uint16_t* from_port);

  private:
    int fd_ = -1;
    uint16_t local_port_ = 0;
};

// Dotted IPv4 text to a host-order address; 0 when it is not one.
uint32_t ParseIpv4(const std::string& text);
std::string FormatIpv4(uint32_t address);
bool IsMulticastIpv4(uint32_t address);
