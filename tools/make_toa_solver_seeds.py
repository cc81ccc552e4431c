#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/toa_solver_fuzz.cpp into fuzz/corpus/toa_solver/.

Layout of an input (all little-endian): flags u8, anchor count u16, minimum
anchor count u8; without flag bit 0 the parameters as gain u8 (/64), stop
threshold u8 (/10000 m), rejection threshold u8 (/100 m), speed-of-light
offset i16 (x 1000 m/s), bounds min x, y, z and max x, y, z as i16 mm; the
start guess as three i16 mm; per anchor x, y, z as i16 mm, the arrival time
u64 and the weight u8 (/255). Raw flags replace a group by f64 values.

Usage: tools/make_toa_solver_seeds.py [corpus folder]
"""

import math
import os
import struct
import sys

TICKS_PER_SECOND = 6.38976e10
SPEED_OF_LIGHT_MM = 299792458.0 * 1000.0
WRAP = 1 << 40

ROOM = [(0, 0, 2500), (10000, 0, 2500), (10000, 8000, 2500), (0, 8000, 2500),
        (5000, 0, 500), (10000, 4000, 500), (5000, 8000, 500), (0, 4000, 500)]


def arrival(anchor, tag, transmit):
    ticks = round(math.dist(anchor, tag) / SPEED_OF_LIGHT_MM * TICKS_PER_SECOND)
    return (transmit + ticks) % WRAP


def report(anchors, tag, transmit, start, minimum=4, bounds=((-1000, -1000, 0), (11000, 9000, 3000)),
           count=None):
    data = struct.pack("<BHB", 0, len(anchors) if count is None else count, minimum)
    data += struct.pack("<BBBh", 64, 50, 15, 0)  # gain 1, stop 5 mm, reject 150 mm
    data += struct.pack("<6h", *bounds[0], *bounds[1])
    data += struct.pack("<3h", *start)
    for anchor in anchors:
        data += struct.pack("<3hQB", *anchor, arrival(anchor, tag, transmit), 255)
    return data


def raw(flags, values, count, minimum):
    data = struct.pack("<BHB", flags, count, minimum)
    return data + b"".join(struct.pack("<d", value) for value in values)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "toa_solver")
    os.makedirs(folder, exist_ok=True)
    seeds = {
        "room_eight_anchors": report(ROOM, (8200, 1300, 1100), 5000, (5000, 4000, 1500)),
        "room_across_the_wrap": report(ROOM, (3000, 6000, 1200), WRAP - 1700, (5000, 4000, 1500)),
        "ceiling_height_fixed": report(ROOM[:4], (4000, 3000, 1000), 77, (5000, 4000, 1000),
                                       bounds=((-1000, -1000, 1000), (11000, 9000, 1000))),
        "too_few_anchors": report(ROOM[:3], (4000, 3000, 1000), 77, (5000, 4000, 1000)),
        "above_capacity": report(ROOM, (4000, 3000, 1000), 77, (5000, 4000, 1000), count=515),
        "tag_on_anchor": report(ROOM, ROOM[2], 99, ROOM[2]),
        "raw_parameters_nan": raw(1, [float("nan"), 0.005, 0.15, 299792458.0, -1e9, -1e9, -1e9, 1e9, 1e9, 1e9],
                                  4, 4),
        "raw_huge_positions": raw(15, [1.0, 0.005, 0.15, 299792458.0, -1e9, -1e9, -1e9, 1e9, 1e9, 1e9,
                                       0.0, 0.0, 0.0, 1e300, -1e300, 1e300, 0.0, 1.0], 4, 4),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as seed:
            seed.write(data)


if __name__ == "__main__":
    main()
