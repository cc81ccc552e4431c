#pragma once
// Points and axis-aligned boxes shared by the settings, the node registry and the
// location engine. Header-only: the configuration library uses these types without
// linking the host libraries.

#include <cmath>
#include <cstdint>
#include <limits>

// A point's components rounded to whole units (millimetres, as published).
struct coordinates_data_t {
    int32_t x;
    int32_t y;
    int32_t z;
};
static_assert(sizeof(coordinates_data_t) == 12, "three signed 32-bit integers");

class BoundingBox;

class Coordinates {
  public:
    Coordinates() = default;
    Coordinates(double x, double y, double z) : x_(x), y_(y), z_(z) {}

    double GetX() const { return x_; }
    double GetY() const { return y_; }
    double GetZ() const { return z_; }

    Coordinates operator+(const Coordinates& other) const {
        return Coordinates(x_ + other.x_, y_ + other.y_, z_ + other.z_);
    }
    Coordinates operator-(const Coordinates& other) const {
        return Coordinates(x_ - other.x_, y_ - other.y_, z_ - other.z_);
    }
    Coordinates operator*(double factor) const { return Coordinates(x_ * factor, y_ * factor, z_ * factor); }
    Coordinates& operator+=(const Coordinates& other) {
        x_ += other.x_;
        y_ += other.y_;
        z_ += other.z_;
        return *this;
    }
    Coordinates& operator*=(double factor) {
        x_ *= factor;
        y_ *= factor;
        z_ *= factor;
        return *this;
    }

    double CalculateDistanceBetween(const Coordinates& other) const {
        const double dx = x_ - other.x_;
        const double dy = y_ - other.y_;
        const double dz = z_ - other.z_;
        return std::sqrt(dx * dx + dy * dy + dz * dz);
    }

    coordinates_data_t GetData() const {
        return coordinates_data_t{RoundToInt32(x_), RoundToInt32(y_), RoundToInt32(z_)};
    }

    inline void MoveInsideBounds(const BoundingBox& box);

  private:
    // Halves round away from zero. A solve can diverge, so values beyond the int32 range
    // saturate and NaN gives 0 instead of an undefined conversion.
    static int32_t RoundToInt32(double value) {
        if (std::isnan(value))
            return 0;
        const double rounded = std::round(value);
        if (rounded >= 2147483647.0)
            return std::numeric_limits<int32_t>::max();
        if (rounded <= -2147483648.0)
            return std::numeric_limits<int32_t>::min();
        return static_cast<int32_t>(rounded);
    }

    // Comparisons with NaN are false, so a NaN component is left as it is.
    static void ClampInto(double& value, double minimum, double maximum) {
        if (value > maximum) {
            value = maximum;
        } else if (minimum > value) {
            value = minimum;
        }
    }

    double x_ = 0.0;
    double y_ = 0.0;
    double z_ = 0.0;
};

class BoundingBox {
  public:
    BoundingBox() = default;

    void SetMinCoordinates(const Coordinates& minimum) { min_ = minimum; }
    void SetMaxCoordinates(const Coordinates& maximum) { max_ = maximum; }
    Coordinates GetMinCoordinates() const { return min_; }
    Coordinates GetMaxCoordinates() const { return max_; }

  private:
    Coordinates min_{0.0, 0.0, 0.0};
    Coordinates max_{0.0, 0.0, 0.0};
};

inline void Coordinates::MoveInsideBounds(const BoundingBox& box) {
    const Coordinates minimum = box.GetMinCoordinates();
    const Coordinates maximum = box.GetMaxCoordinates();
    ClampInto(x_, minimum.x_, maximum.x_);
    ClampInto(y_, minimum.y_, maximum.y_);
    ClampInto(z_, minimum.z_, maximum.z_);
}
