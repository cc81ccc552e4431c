#include "simulator/sim_ports.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string ErrnoText(const std::string& what) {
    return what + ": " + strerror(errno);
}

}  // namespace

bool PtyPort::Open(const std::string& path, std::string* error) {
    Close();
    master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_fd_ < 0) {
        *error = ErrnoText("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0 ||
        ptsname_r(master_fd_, name, sizeof(name)) != 0) {
        *error = ErrnoText("pseudo-terminal set-up");
        Close();
        return false;
    }
    slave_name_ = name;
    slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_fd_ < 0) {
        *error = ErrnoText("open " + slave_name_);
        Close();
        return false;
    }
    // Raw from the start: with the default line discipline the slave would echo
    // every byte the device sends straight back to it, and rewrite line ends.
    termios attributes;
    if (tcgetattr(slave_fd_, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(slave_fd_, TCSANOW, &attributes);
    }
    const std::string temporary = path + ".new";
    unlink(temporary.c_str());
    if (symlink(slave_name_.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), path.c_str()) != 0) {
        *error = ErrnoText("symlink " + path);
        unlink(temporary.c_str());
        Close();
        return false;
    }
    path_ = path;
    return true;
}

void PtyPort::Close() {
    if (!path_.empty()) {
        // Only our own link: another simulator may have taken the name since.
        char target[128];
        const ssize_t length = readlink(path_.c_str(), target, sizeof(target) - 1);
        if (length > 0 && std::string(target, static_cast<size_t>(length)) == slave_name_)
            unlink(path_.c_str());
        path_.clear();
    }
    if (slave_fd_ >= 0)
        close(slave_fd_);
    if (master_fd_ >= 0)
        close(master_fd_);
    slave_fd_ = -1;
    master_fd_ = -1;
}

size_t PtyPort::Write(const uint8_t* data, size_t length) {
    while (master_fd_ >= 0 && length > 0) {
        const ssize_t written = write(master_fd_, data, length);
        if (written <= 0) {
            if (written < 0 && errno == EINTR)
                continue;
            return length;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return length;
}

long PtyPort::Read(uint8_t* buffer, size_t capacity) {
    if (master_fd_ < 0)
        return -1;
    const ssize_t got = read(master_fd_, buffer, capacity);
    if (got < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
    return static_cast<long>(got);
}

bool UdpPort::Open(const std::string& address, uint16_t port, std::string* error) {
    Close();
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        *error = ErrnoText("socket");
        return false;
    }
    const uint32_t host = ParseIpv4(address);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(host);
    local.sin_port = htons(port);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        *error = ErrnoText("bind " + address + ":" + std::to_string(port));
        Close();
        return false;
    }
    socklen_t size = sizeof(local);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
    local_port_ = ntohs(local.sin_port);
    // Multicast leaves through the interface of the bound address and comes back
    // to listeners on this host (the server runs here too).
    in_addr interface_address{};
    interface_address.s_addr = htonl(host);
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &interface_address, sizeof(interface_address));
    const unsigned char loop = 1;
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop));
    const unsigned char ttl = 1;
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
    return true;
}

void UdpPort::Close() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    local_port_ = 0;
}

bool UdpPort::SendTo(uint32_t address, uint16_t port, const uint8_t* data, size_t length) {
    if (fd_ < 0)
        return false;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(address);
    destination.sin_port = htons(port);
    return sendto(fd_, data, length, 0, reinterpret_cast<sockaddr*>(&destination), sizeof(destination)) ==
           static_cast<ssize_t>(length);
}

long UdpPort::Receive(uint8_t* buffer, size_t capacity, uint32_t* from_address, uint16_t* from_port) {
    if (fd_ < 0)
        return -1;
    sockaddr_in from{};
    socklen_t size = sizeof(from);
    const ssize_t got = recvfrom(fd_, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (got < 0)
        return -1;
    *from_address = ntohl(from.sin_addr.s_addr);
    *from_port = ntohs(from.sin_port);
    return static_cast<long>(got);
}

uint32_t ParseIpv4(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return 0;
    return ntohl(address.s_addr);
}

std::string FormatIpv4(uint32_t address) {
    in_addr value{};
    value.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof(text));
    return text;
}

bool IsMulticastIpv4(uint32_t address) {
    return (address >> 28) == 0xE;
}
