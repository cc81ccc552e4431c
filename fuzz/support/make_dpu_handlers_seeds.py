#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/dpu_handlers_fuzz.cpp (see its header for
the record format) into fuzz/corpus/dpu_handlers/."""
import os
import struct

MASTER, ANCHOR1, ANCHOR2, ANCHOR3, ANCHOR4, TAG, TAG2 = 0, 1, 2, 3, 4, 5, 6
TAG_SERIAL = 0x01010021
ANCHOR_SERIALS = [0x01000011, 0x01000012, 0x01000013, 0x01000014]
SIGNAL = struct.pack('<6H', 3000, 3000, 3000, 1000, 2000, 0)
TICKS_PER_SYNC = 6389760000


def record(kind, selector, payload):
    return struct.pack('<BBH', kind, selector, len(payload)) + payload


def tick(network_time, transmit_time, field15=0):
    return struct.pack('<BIHIBIBBBIQ', 1, 0x01000001, 1, network_time, 0, 0, 0, 0, 0, field15, transmit_time)


def timed_rx(tx_time, rx_time, packet_type=16):
    return struct.pack('<BIHBQQ', 1, 0x01000001, 1, packet_type, tx_time, rx_time) + SIGNAL


def ping(sequence, rx_time, user_data=b''):
    return struct.pack('<BIHBQ', sequence, TAG_SERIAL, 6, 0, rx_time) + SIGNAL + user_data


def discovery(serial):
    return struct.pack('<IQ', serial, 0) + SIGNAL


def toa_report(sequence, toas):
    # Big-endian, as the report codec writes it.
    head = struct.pack('>QQHhH', 0, TAG_SERIAL, 6, len(toas), sequence)
    entries = b''
    for i, toa in enumerate(toas):
        entries += struct.pack('>QHqdd', ANCHOR_SERIALS[i], 2 + i, toa, -80.0, -78.0)
    return head + entries


def syncs(k):
    out = b''
    for a in range(4):
        out += record(1, ANCHOR1 + a, timed_rx(10**10 + k * TICKS_PER_SYNC, 10**10 + k * TICKS_PER_SYNC + 1000 * a))
    return out


SEEDS = {
    'ticks_before_start': b'\x00' + record(0, MASTER, tick(1000, 5000)) + record(0, ANCHOR1, tick(2000, 6000)),
    'ticks_started_command_list': b'\x01' + record(0, MASTER, tick(487515, 7000)) + record(0, MASTER, tick(1, 8000, 487514)),
    'short_tick': b'\x01' + record(0, MASTER, tick(1, 1)[:24]),
    'admissions': b'\x01' + record(0, MASTER, tick(10**6, 1)) + record(3, ANCHOR1, discovery(TAG_SERIAL))
                  + record(3, ANCHOR1, discovery(0x01010022)) + record(0, MASTER, tick(10**6 + 97503, 2))
                  + record(3, ANCHOR2, discovery(0x0BADBEEF)) + record(0, MASTER, tick(10**6 + 2 * 97503, 3))
                  + record(3, ANCHOR2, discovery(ANCHOR_SERIALS[0])),
    'ssp_and_smoothing': b'\x00' + record(4, MASTER, b'\x06') + record(4, ANCHOR1, b'\x06')
                         + record(6, TAG, struct.pack('<HHI', 0, 0, 5)) + record(6, TAG, struct.pack('<HHI', 1, 0, 5))
                         + record(6, TAG, struct.pack('<HHI', 0, 0, 0xFFFFFFFF)) + record(5, 7, b'config'),
    'clocks_and_pings': b'\x00' + syncs(0) + syncs(1)
                        + b''.join(record(2, ANCHOR1 + a, ping(1, 10**10 + TICKS_PER_SYNC + 5000 + a)) for a in range(4))
                        + syncs(2)
                        + b''.join(record(2, ANCHOR1 + a, ping(2, 10**10 + 2 * TICKS_PER_SYNC + 5000 + a)) for a in range(4))
                        + syncs(3),
    'ping_with_user_data': b'\x00' + syncs(0) + syncs(1) + record(2, ANCHOR2, ping(9, 10**10, b'\x81\x05\x02\x06\x00\x10\x00\x01\x02\x03')),
    'toa_reports': b'\x00' + record(7, TAG, toa_report(3, [63897600000 + i * 1000 for i in range(4)]))
                   + record(7, TAG, toa_report(4, [1, 2]))
                   + record(7, TAG, toa_report(5, [0] * 4)[:-3]),
}

if __name__ == '__main__':
    folder = os.path.join(os.path.dirname(__file__), '..', 'corpus', 'dpu_handlers')
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), 'wb') as seed:
            seed.write(data)
