#include "capacity/capacity_probe.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"

namespace {

constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

bool Decode(const uint8_t* data, size_t length, int64_t arrival_ns, capacity_observation_t* observation) {
    VexPacket packet(0);
    if (length > VexPacket::kMaxPacketSize ||
        !packet.ConvertPacketBuffer(data, static_cast<uint16_t>(length)))
        return false;
    bool has_position = false;
    observation->serial_number = packet.GetSerialNumber();
    observation->arrival_ns = arrival_ns;
    for (const auto& item : packet.GetDataItems()) {
        switch (item->GetType()) {
            case VexType::kPosition: {
                vex_data_position_t position;
                if (VexData_Read(*item, &position)) {
                    has_position = true;
                    observation->position =
                        Coordinates(position.x / 1000.0, position.y / 1000.0, position.z / 1000.0);
                    observation->network_time = position.network_time;
                }
                break;
            }
            case VexType::kAnchorStatus: {
                vex_data_anchor_status_t status;
                if (VexData_Read(*item, &status)) {
                    if (status.status == kVexAnchorStatusUsed)
                        observation->used_anchors++;
                    else
                        observation->removed_anchors++;
                }
                break;
            }
            case VexType::kToaSolution:
                observation->solved = true;
                break;
            default:
                break;
        }
    }
    return has_position;
}

bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream file(path);
    if (!file)
        return false;
    std::stringstream buffer;
    buffer << file.rdbuf();
    *text = buffer.str();
    return true;
}

// utime + stime and the name of a /proc/.../stat line. The name stands in
// parentheses and may hold blanks, so the fields are counted after its end.
bool ParseStat(const std::string& stat, std::string* name, uint64_t* ticks) {
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    *name = stat.substr(open + 1, close - open - 1);
    std::istringstream rest(stat.substr(close + 1));
    std::string field;
    uint64_t utime = 0;
    uint64_t stime = 0;
    // Fields 3 onwards: state (3) ... utime (14), stime (15).
    for (int index = 3; index <= 15 && (rest >> field); ++index) {
        if (index == 14)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        if (index == 15)
            stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    *ticks = utime + stime;
    return true;
}

void ReadUdpCounters(proc_sample_t* sample) {
    std::string text;
    if (!ReadFile("/proc/net/snmp", &text))
        return;
    std::istringstream lines(text);
    std::string header;
    std::string values;
    while (std::getline(lines, header)) {
        if (header.rfind("Udp:", 0) != 0 || !std::getline(lines, values))
            continue;
        std::istringstream names(header);
        std::istringstream numbers(values);
        std::string name;
        std::string number;
        while ((names >> name) && (numbers >> number)) {
            if (name == "InErrors")
                sample->udp_in_errors = std::strtoull(number.c_str(), nullptr, 10);
            if (name == "RcvbufErrors")
                sample->udp_receive_buffer_errors = std::strtoull(number.c_str(), nullptr, 10);
        }
        return;
    }
}

// /proc/net/udp: "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops".
void ReadSocketDrops(proc_sample_t* sample) {
    std::ifstream file("/proc/net/udp");
    std::string line;
    std::getline(file, line);
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode, references,
            pointer, drops;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode >> references >> pointer >> drops))
            continue;
        const size_t colon = local.find(':');
        if (colon == std::string::npos)
            continue;
        const uint32_t address =
            static_cast<uint32_t>(std::strtoul(local.substr(0, colon).c_str(), nullptr, 16));
        const unsigned port =
            static_cast<unsigned>(std::strtoul(local.substr(colon + 1).c_str(), nullptr, 16));
        char text[32];
        // The kernel prints the address as the number in memory: network order read little-endian.
        snprintf(text, sizeof(text), "%u.%u.%u.%u:%u", address & 0xFF, (address >> 8) & 0xFF,
                 (address >> 16) & 0xFF, address >> 24, port);
        sample->socket_drops[std::strtoull(inode.c_str(), nullptr, 10)] = {
            text, std::strtoull(drops.c_str(), nullptr, 10)};
    }
}

}  // namespace

bool ExternalStreamListener::Start(const std::string& group, uint16_t port, std::string* error) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        *error = std::string("socket: ") + strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof(kReceiveBufferBytes));
    // The kernel stamps each datagram as it is queued to the socket, so the
    // arrival measured does not depend on when this thread gets to read it
    // (the tool's own threads compete with the server for the processors).
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof(one));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, group.c_str(), &address.sin_addr) != 1 ||
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        *error = "cannot bind " + group + ":" + std::to_string(port) + ": " + strerror(errno);
        Stop();
        return false;
    }
    ip_mreq membership{};
    membership.imr_multiaddr = address.sin_addr;
    inet_pton(AF_INET, "127.0.0.1", &membership.imr_interface);
    if (setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0) {
        *error = "cannot join " + group + " on the loopback interface: " + strerror(errno);
        Stop();
        return false;
    }
    stopping_ = false;
    thread_ = std::thread(&ExternalStreamListener::Run, this);
    return true;
}

void ExternalStreamListener::Stop() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

std::vector<capacity_observation_t> ExternalStreamListener::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<capacity_observation_t> taken;
    taken.swap(observations_);
    return taken;
}

namespace {

// The kernel's stamp of a received datagram (CLOCK_REALTIME) on the
// simulator's clock (CLOCK_MONOTONIC), by the two clocks' difference read
// just after it; the reading itself when there is no stamp.
int64_t ArrivalOnMonotonicClock(const msghdr& message) {
    const int64_t monotonic_now = SimMonotonicNs();
    timespec realtime{};
    clock_gettime(CLOCK_REALTIME, &realtime);
    const int64_t realtime_now = static_cast<int64_t>(realtime.tv_sec) * 1000000000 + realtime.tv_nsec;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(const_cast<msghdr*>(&message), header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS &&
            header->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(header), sizeof(stamp));
            const int64_t stamp_ns = static_cast<int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
            // Never later than the reading: a clock step cannot make it so.
            return std::min(monotonic_now, stamp_ns - (realtime_now - monotonic_now));
        }
    }
    return monotonic_now;
}

}  // namespace

void ExternalStreamListener::Run() {
    std::vector<uint8_t> buffer(VexPacket::kMaxPacketSize + 1);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    while (!stopping_) {
        pollfd wait{fd_, POLLIN, 0};
        if (poll(&wait, 1, 100) <= 0)
            continue;
        for (;;) {
            iovec data{buffer.data(), buffer.size()};
            msghdr message{};
            message.msg_iov = &data;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof(control);
            const ssize_t got = recvmsg(fd_, &message, MSG_DONTWAIT);
            if (got < 0)
                break;
            const int64_t arrival_ns = ArrivalOnMonotonicClock(message);
            datagrams_++;
            capacity_observation_t observation;
            if (Decode(buffer.data(), static_cast<size_t>(got), arrival_ns, &observation)) {
                std::lock_guard<std::mutex> lock(mutex_);
                observations_.push_back(observation);
            }
        }
    }
}

proc_sample_t SampleProcess(int pid) {
    proc_sample_t sample;
    sample.at_ns = SimMonotonicNs();
    const std::string base = "/proc/" + std::to_string(pid);
    std::string text;
    std::string name;
    if (!ReadFile(base + "/stat", &text) || !ParseStat(text, &name, &sample.ticks))
        return sample;
    // A zombie has a stat but no threads left to run.
    sample.alive = text.find(") Z ") == std::string::npos;
    if (ReadFile(base + "/status", &text)) {
        const size_t at = text.find("VmRSS:");
        if (at != std::string::npos)
            sample.rss_kb = std::strtoull(text.c_str() + at + 6, nullptr, 10);
    }
    if (DIR* tasks = opendir((base + "/task").c_str())) {
        while (const dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] == '.')
                continue;
            proc_thread_time_t thread;
            if (ReadFile(base + "/task/" + entry->d_name + "/stat", &text) &&
                ParseStat(text, &thread.name, &thread.ticks))
                sample.threads[std::atoi(entry->d_name)] = thread;
        }
        closedir(tasks);
    }
    ReadUdpCounters(&sample);
    ReadSocketDrops(&sample);
    return sample;
}

long ClockTicksPerSecond() {
    return sysconf(_SC_CLK_TCK);
}
