#pragma once
// What the capacity tool watches: the server's External stream, received on
// a plain socket by a thread that does nothing else and stamps every
// datagram's arrival on CLOCK_MONOTONIC, and the server process through
// /proc (CPU time per thread, resident memory) and the network namespace's
// UDP counters.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capacity/capacity_analysis.h"

// Receives the External stream (a multicast group on the loopback
// interface) and keeps every packet that carries a tag's position.
class ExternalStreamListener {
  public:
    ExternalStreamListener() = default;
    ~ExternalStreamListener() { Stop(); }
    ExternalStreamListener(const ExternalStreamListener&) = delete;
    ExternalStreamListener& operator=(const ExternalStreamListener&) = delete;

    bool Start(const std::string& group, uint16_t port, std::string* error);
    void Stop();
    // The observations since the last call (receiving thread's, handed over under the mutex).
    std::vector<capacity_observation_t> Take();
    uint64_t Datagrams() const { return datagrams_.load(); }

  private:
    void Run();

    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> datagrams_{0};
    std::mutex mutex_;  // guards observations_
    std::vector<capacity_observation_t> observations_;
};

// CPU times in clock ticks of /proc.
struct proc_thread_time_t {
    std::string name;
    uint64_t ticks = 0;
};

struct proc_sample_t {
    bool alive = false;
    int64_t at_ns = 0;
    uint64_t ticks = 0;  // user + system of the whole process
    uint64_t rss_kb = 0;
    std::map<int, proc_thread_time_t> threads;  // by thread id
    // The namespace's UDP counters (/proc/net/snmp).
    uint64_t udp_in_errors = 0;
    uint64_t udp_receive_buffer_errors = 0;
    // Datagrams each UDP socket of the namespace dropped, by socket inode,
    // with its local address ("127.0.0.1:45600").
    std::map<uint64_t, std::pair<std::string, uint64_t>> socket_drops;
};

proc_sample_t SampleProcess(int pid);
long ClockTicksPerSecond();
