#pragma once
// Occlusion weight of one anchor in a position solve.

class DwClock;
struct derazud_toa_t;

// The product of three occlusion-table weights, each from the gap between
// total-path and first-path power of one reception: the anchor's older sync
// reception (Ra), the tag reception of the report entry, and the anchor's newer
// sync reception (Rc). Lies in the table's range cubed, at most about 0.742.
// Dpu::CalculateAnchorWeight(anchor, entry) forwards to this with the anchor's
// clock; the clock's powers are atomics, so solves on pool threads may read
// them while the receiver thread updates the clock.
double CalculateAnchorWeight(const DwClock& clock, const derazud_toa_t& entry);
