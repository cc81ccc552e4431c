#include "position_report/position_report.h"

#include <algorithm>
#include <cmath>

void PositionReport::AddTruth(uint32_t serial_number, const vex_data_position_t& truth) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::deque<vex_data_position_t>& records = truth_[serial_number];
    records.push_back(truth);
    if (records.size() > kTruthKept)
        records.pop_front();
}

void PositionReport::AddPosition(uint32_t serial_number, const vex_data_position_t& position) {
    std::lock_guard<std::mutex> lock(mutex_);
    tag_errors_t& tag = tags_[serial_number];
    if (tag.any && tag.last_network_time == position.network_time)
        return;
    tag.any = true;
    tag.last_network_time = position.network_time;
    ++tag.positions;
    if (tag.positions <= skip_)
        return;
    const auto records = truth_.find(serial_number);
    if (records == truth_.end())
        return;
    for (auto record = records->second.rbegin(); record != records->second.rend(); ++record) {
        const int32_t apart = static_cast<int32_t>(record->network_time - position.network_time);
        if (apart < -kMatchUnits || apart > kMatchUnits)
            continue;
        const double dx = static_cast<double>(position.x) - record->x;
        const double dy = static_cast<double>(position.y) - record->y;
        const double dz = static_cast<double>(position.z) - record->z;
        tag.horizontal_mm.push_back(std::sqrt(dx * dx + dy * dy));
        tag.spatial_mm.push_back(std::sqrt(dx * dx + dy * dy + dz * dz));
        tag.sum_dx += dx;
        tag.sum_dy += dy;
        tag.sum_dz += dz;
        return;
    }
}

std::vector<position_error_summary_t> PositionReport::Summaries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<position_error_summary_t> summaries;
    for (const auto& entry : tags_) {
        const tag_errors_t& tag = entry.second;
        const size_t matched = tag.horizontal_mm.size();
        const double count = matched == 0 ? 1.0 : static_cast<double>(matched);
        summaries.push_back({entry.first, tag.positions, matched, MedianOf(tag.horizontal_mm),
                             RmsOf(tag.horizontal_mm), MedianOf(tag.spatial_mm), RmsOf(tag.spatial_mm),
                             tag.sum_dx / count, tag.sum_dy / count, tag.sum_dz / count});
    }
    return summaries;
}

size_t PositionReport::TotalPositions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t total = 0;
    for (const auto& entry : tags_)
        total += entry.second.positions;
    return total;
}

double MedianOf(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    return values[middle];
}

double RmsOf(const std::vector<double>& values) {
    if (values.empty())
        return 0.0;
    double sum = 0.0;
    for (const double value : values)
        sum += value * value;
    return std::sqrt(sum / static_cast<double>(values.size()));
}
