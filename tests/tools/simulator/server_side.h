#pragma once
// The server's side of a simulated device's link, for tests: SSP frames over
// a pseudo-terminal or UDP, built and parsed with the project's codecs, and
// bounded waits for what the device sends. Header-only; used by one thread.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "protocol/ssp/ssp_protocol.h"
#include "support/process_multicast_group.h"

using Payload = std::vector<uint8_t>;

constexpr auto kBound = std::chrono::seconds(10);

// A per-process name: several test processes (and build trees) run at once.
inline std::string ProcessUnique(const std::string& stem) {
    return stem + "-" + std::to_string(getpid());
}

// The process's own multicast group, as the simulator's site records name it.
inline std::string ProcessGroup() {
    return ProcessMulticastGroup().toStdString();
}

// Framing both ways and a queue of received payloads, over any byte transport.
class SspEndpoint {
  public:
    SspEndpoint() { ssp_init(&ssp_, SSP_MAX_PAYLOAD_LENGTH); }
    virtual ~SspEndpoint() = default;

    void Send(const Payload& payload) {
        std::memcpy(ssp_.tx_buffer + SSP_HEADER_SIZE, payload.data(), payload.size());
        const uint16_t length = ssp_tx_wrap(&ssp_, static_cast<uint16_t>(payload.size()));
        WriteFrame(ssp_.tx_buffer, length);
    }

    // The first payload received (now or within the bound) that `match` accepts;
    // payloads before it are dropped. False when none came.
    bool WaitFor(const std::function<bool(const Payload&)>& match, Payload* found,
                 std::chrono::milliseconds bound = kBound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (;;) {
            while (!received_.empty()) {
                Payload payload = std::move(received_.front());
                received_.pop_front();
                if (match(payload)) {
                    if (found != nullptr)
                        *found = payload;
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            if (!Pump(static_cast<int>(std::min<int64_t>(left.count(), 100))) && received_.empty())
                return false;
        }
    }
    void Drop() { received_.clear(); }

  protected:
    virtual void WriteFrame(const uint8_t* frame, size_t length) = 0;
    // Reads what arrives within `ms` into the queue; false when the transport is gone.
    virtual bool Pump(int ms) = 0;
    void Feed(const uint8_t* bytes, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            const uint8_t* payload = ssp_rx_protocol(&ssp_, bytes[i]);
            if (payload != nullptr)
                received_.emplace_back(payload, payload + ssp_.rx_length);
        }
    }

    ssp_state_t ssp_;
    std::deque<Payload> received_;
};

// The server's end of a USB device: opens the port by its configured name, raw.
class PtyServerSide : public SspEndpoint {
  public:
    bool Open(const std::string& path) {
        Close();
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            return false;
        termios attributes;
        tcgetattr(fd_, &attributes);
        cfmakeraw(&attributes);
        tcsetattr(fd_, TCSANOW, &attributes);
        const uint8_t line_feed = 0x0A;  // the server's first byte after opening
        return write(fd_, &line_feed, 1) == 1;
    }
    void Close() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
        hung_up_ = false;
    }
    ~PtyServerSide() override { Close(); }
    bool HungUp() const { return hung_up_; }
    // Waits until the device side goes away (hang-up or read error).
    bool WaitForHangUp() {
        const auto deadline = std::chrono::steady_clock::now() + kBound;
        while (!hung_up_ && std::chrono::steady_clock::now() < deadline)
            Pump(100);
        return hung_up_;
    }

  protected:
    void WriteFrame(const uint8_t* frame, size_t length) override {
        if (fd_ >= 0 && write(fd_, frame, length) < 0)
            hung_up_ = true;
    }
    bool Pump(int ms) override {
        if (fd_ < 0)
            return false;
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, ms) <= 0)
            return true;
        uint8_t buffer[4096];
        const ssize_t got = read(fd_, buffer, sizeof(buffer));
        if (got > 0) {
            Feed(buffer, static_cast<size_t>(got));
        } else if (got < 0 && errno != EAGAIN) {
            hung_up_ = true;
            return false;
        } else if ((pfd.revents & POLLHUP) != 0) {
            hung_up_ = true;
            return false;
        }
        return true;
    }

  private:
    int fd_ = -1;
    bool hung_up_ = false;
};

// A UDP socket on loopback, optionally a member of a multicast group.
class LoopbackSocket {
  public:
    ~LoopbackSocket() {
        if (fd_ >= 0)
            close(fd_);
    }
    // Bound to `port` on the group (member on lo) or on 127.0.0.1.
    bool Open(uint16_t port, const std::string& group = "") {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        const int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        inet_pton(AF_INET, group.empty() ? "127.0.0.1" : group.c_str(), &local.sin_addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
            return false;
        if (!group.empty()) {
            ip_mreq membership{};
            inet_pton(AF_INET, group.c_str(), &membership.imr_multiaddr);
            inet_pton(AF_INET, "127.0.0.1", &membership.imr_interface);
            if (setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0)
                return false;
        }
        return true;
    }
    bool SendTo(const std::string& address, uint16_t port, const uint8_t* data, size_t length) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        return sendto(fd_, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) ==
               static_cast<ssize_t>(length);
    }
    // One datagram within `ms`; empty when none.
    Payload Receive(int ms, std::string* from = nullptr, uint16_t* from_port = nullptr) {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, ms) <= 0)
            return {};
        uint8_t buffer[65536];
        sockaddr_in sender{};
        socklen_t size = sizeof(sender);
        const ssize_t got =
            recvfrom(fd_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&sender), &size);
        if (got <= 0)
            return {};
        if (from != nullptr) {
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &sender.sin_addr, text, sizeof(text));
            *from = text;
        }
        if (from_port != nullptr)
            *from_port = ntohs(sender.sin_port);
        return Payload(buffer, buffer + got);
    }

  private:
    int fd_ = -1;
};

// The server's end of an Ethernet device in unicast mode: SSP frames in
// datagrams, 0x12 in front of the server's.
class UdpServerSide : public SspEndpoint {
  public:
    UdpServerSide(LoopbackSocket* socket, std::string device, uint16_t device_port)
        : socket_(socket), device_(std::move(device)), device_port_(device_port) {}

  protected:
    void WriteFrame(const uint8_t* frame, size_t length) override {
        Payload datagram{0x12};
        datagram.insert(datagram.end(), frame, frame + length);
        socket_->SendTo(device_, device_port_, datagram.data(), datagram.size());
    }
    bool Pump(int ms) override {
        const Payload datagram = socket_->Receive(ms);
        Feed(datagram.data(), datagram.size());
        return true;
    }

  private:
    LoopbackSocket* socket_;
    std::string device_;
    uint16_t device_port_;
};
