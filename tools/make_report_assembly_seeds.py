#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/report_assembly_fuzz.cpp (see its head for
the input layout) into fuzz/corpus/report_assembly/.

Usage: tools/make_report_assembly_seeds.py [corpus folder]
"""
import math
import os
import struct

import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "report_assembly")
C = 299792458.0
TICKS = 6.38976e10
ANCHORS = [(5.0 * (i % 3), 4.0 * (i // 3), 2.0 + 0.5 * i) for i in range(8)]
TAG = (4.0, 3.0, 1.0)


def head(flags=1, anchors=6, velocity=5.0, speed=C, accel=0x21, gyro=0x13):
    return bytes([flags, anchors]) + struct.pack("<d", velocity) + struct.pack("<d", speed) + bytes([accel, gyro])


def response(sequence, anchor, toa, expected, id_selector=0, repeats=1):
    return bytes([((repeats - 1) << 2) | 0, sequence, anchor, id_selector]) + \
        (toa & 0xFFFFFFFFFF).to_bytes(5, "little") + bytes([expected])


def toa(anchor, transmit=10**9, error=0.0):
    distance = math.dist(ANCHORS[anchor], TAG) + error
    return transmit + round(distance / C * TICKS)


def report(sequence, count=6, expected=6, bad=None, error=0.0, transmit=10**9):
    return b"".join(response(sequence, a, toa(a, transmit, error if a == bad else 0.0), expected)
                    for a in range(count))


def ping(sequence, user_data):
    payload = bytes([sequence]) + bytes(27) + bytes(user_data)
    return bytes([1, len(payload)]) + payload


def take():
    return bytes([2])


def position(x, y, z):
    return bytes([3]) + struct.pack("<fff", x, y, z)


TEMPERATURE = [6, 6, 0x01, 0x00, 0x00, 0x4D]
ACCEL = [10, 1, 0x00, 0x12, 1, 0, 0xFE, 0xFF, 3, 0]
QUATERNION = [20, 4, 0, 0] + list(struct.pack("<iiii", 1 << 29, 0, 0, 0))

SEEDS = {
    "four_reports": head() + report(1) + report(2) + report(3, bad=2, error=40.0) + report(4) + take(),
    "wrapping_sequences": head() + report(254) + report(255) + report(0) + response(250, 1, toa(1), 6)
    + report(1) + take(),
    "stray_and_repeated_anchors": head() + response(3, 0, toa(0), 200) + response(3, 9, toa(1), 200)
    + response(3, 0, toa(0), 200) + response(3, 1, toa(1), 200, id_selector=1)
    + response(3, 2, toa(2), 200, id_selector=2) + response(3, 3, toa(3), 200, id_selector=3)
    + response(3, 4, toa(4), 200, id_selector=4) + report(3, expected=200) + report(4) + take(),
    "over_512_responses": head(flags=0, anchors=8) + b"".join(
        response(7, 0, toa(0), 0xFF, repeats=64) for _ in range(9)) + report(8),
    "velocity_zero": head(velocity=0.0) + report(1) + report(2) + report(3) + take(),
    "velocity_negative": head(velocity=-3.0) + report(1) + report(2) + report(3),
    "velocity_nan": head(velocity=float("nan")) + report(1) + report(2, bad=1, error=500.0) + report(3),
    "speed_of_light_zero": head(speed=0.0) + report(1) + report(2, bad=4, error=90.0) + report(3),
    "speed_of_light_nan": head(speed=float("nan"), flags=3) + report(1) + report(2) + report(3),
    "smoothed_guess_nan_position": head(flags=3) + position(float("nan"), 1.0, 2.0) + report(1) + report(2)
    + report(3),
    "across_device_time_wrap": head() + report(1, transmit=(1 << 40) - 300) + report(2) + report(3),
    "sensor_records": head() + ping(1, TEMPERATURE + ACCEL) + ping(2, QUATERNION) + ping(2, QUATERNION)
    + ping(4, [4, 0xFE, 0x01, 0x00]) + take(),
    "trickled_over_pings": head() + ping(254, ACCEL[:6]) + ping(255, [6, 0xFE] + ACCEL[6:]) + ping(0, TEMPERATURE)
    + ping(252, TEMPERATURE) + ping(1, TEMPERATURE),
    "bad_sensor_records": head() + ping(1, TEMPERATURE + [1]) + ping(2, [7, 6, 0, 0, 0, 0, 0])
    + ping(3, [3, 9, 0]) + ping(4, [20, 4] + [0] * 18) + ping(5, [0, 6, 1]),
    "short_pings": head() + bytes([1, 27]) + bytes(27) + bytes([1, 28]) + bytes(28) + bytes([1, 40]) + bytes(5),
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
