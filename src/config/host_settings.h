#pragma once
// The "host" section of the configuration: localisation parameters and the three
// multicast sockets of the host.

#include <cstdint>
#include <string>
#include <vector>

#include "base/network_socket_settings.h"
#include "base/geometry.h"

class HostSettings {
  public:
    HostSettings();

    BoundingBox GetTagBounds() const { return tag_bounds_; }
    void SetTagBounds(const BoundingBox& tag_bounds) { tag_bounds_ = tag_bounds; }
    double GetMaxTagVelocity() const { return max_tag_velocity_; }
    void SetMaxTagVelocity(double velocity) { max_tag_velocity_ = velocity; }
    bool GetUseRdoaSanityCheck() const { return use_rdoa_sanity_check_; }
    void SetUseRdoaSanityCheck(bool use) { use_rdoa_sanity_check_ = use; }
    NetworkSocketSettings GetOutputSocketSettings() const { return output_socket_; }
    void SetOutputSocketSettings(const NetworkSocketSettings& socket) { output_socket_ = socket; }
    NetworkSocketSettings GetInputSocketSettings() const { return input_socket_; }
    void SetInputSocketSettings(const NetworkSocketSettings& socket) { input_socket_ = socket; }
    NetworkSocketSettings GetConfigSocketSettings() const { return config_socket_; }
    void SetConfigSocketSettings(const NetworkSocketSettings& socket) { config_socket_ = socket; }
    std::string GetAlgorithm() const { return algorithm_; }
    void SetAlgorithm(const std::string& algorithm) { algorithm_ = algorithm; }
    bool GetSmoothPositionGuess() const { return smooth_position_guess_; }
    void SetSmoothPositionGuess(bool smooth) { smooth_position_guess_ = smooth; }
    bool GetUseOcclusionMitigation() const { return use_occlusion_mitigation_; }
    void SetUseOcclusionMitigation(bool use) { use_occlusion_mitigation_ = use; }
    double GetVmMinStopThreshold() const { return vm_min_stop_threshold_; }
    void SetVmMinStopThreshold(double threshold) { vm_min_stop_threshold_ = threshold; }
    double GetVmVectorGain() const { return vm_vector_gain_; }
    void SetVmVectorGain(double gain) { vm_vector_gain_ = gain; }
    double GetSpeedOfLight() const { return speed_of_light_; }
    void SetSpeedOfLight(double speed) { speed_of_light_ = speed; }
    uint32_t GetMinimumNumberOfAnchors() const { return minimum_number_of_anchors_; }
    void SetMinimumNumberOfAnchors(uint32_t count) { minimum_number_of_anchors_ = count; }
    double GetVmRejectionThreshold() const { return vm_rejection_threshold_; }
    void SetVmRejectionThreshold(double threshold) { vm_rejection_threshold_ = threshold; }
    // The location engine changes the factor while the host runs (a command
    // on the Internal stream) and position solves read it meanwhile, so these
    // two access it atomically; the field stays plain to keep the settings
    // copyable.
    uint32_t GetSmoothingFactor() const { return __atomic_load_n(&smoothing_factor_, __ATOMIC_RELAXED); }
    void SetSmoothingFactor(uint32_t factor) { __atomic_store_n(&smoothing_factor_, factor, __ATOMIC_RELAXED); }
    std::vector<std::string> GetSerialPorts() const { return serial_ports_; }
    void SetSerialPorts(const std::vector<std::string>& ports) { serial_ports_ = ports; }

    void CopyFromOtherHostSettings(HostSettings* other);

  private:
    BoundingBox tag_bounds_;  // millimetres
    double max_tag_velocity_ = 200.0;
    bool use_rdoa_sanity_check_ = false;
    NetworkSocketSettings output_socket_;  // External stream
    NetworkSocketSettings input_socket_;   // Internal stream
    // Device configuration stream; loading from a file sets its port to 7670.
    NetworkSocketSettings config_socket_;
    std::string algorithm_;  // stored and written back only
    bool smooth_position_guess_ = false;
    bool use_occlusion_mitigation_ = true;
    double vm_min_stop_threshold_ = 0.005;
    double vm_vector_gain_ = 1.0;
    double speed_of_light_ = 299792458.0;  // metres per second
    uint32_t minimum_number_of_anchors_ = 4;
    double vm_rejection_threshold_ = 0.15;
    // Every load sets it; 0 until then.
    uint32_t smoothing_factor_ = 0;
    std::vector<std::string> serial_ports_;
};
