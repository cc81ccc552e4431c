#!/usr/bin/env python3
"""Writes the seed corpora of node_link_fuzz and ethernet_announce_fuzz.

node_link: one SSP payload a device sends per file (bridge answer, command
responses, transmit and receive passthroughs of each RF packet type, anchor
reports with compact and full items). ethernet_announce: announce datagrams.
All multi-byte device fields are big-endian; 40-bit times take 5 bytes.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def be40(value):
    return struct.pack(">Q", value)[3:]


def signal(seed):
    return struct.pack(">6H", *[seed + i for i in range(1, 7)])


def sync(sequence, network_id):
    return (bytes([16, sequence]) + struct.pack(">HIBIBBI", network_id, 0x11223344, 8, 0x09090909, 0x13, 0x14,
                                                0x15151515) + be40(0xAB12345678) + bytes([0x24]))


def rx(rf, rx_time=0x0A0B0C0D0E):
    return bytes([0x13, 0]) + be40(rx_time) + signal(0) + struct.pack(">H", len(rf)) + rf


def tx(rf):
    return bytes([0x14, 0x77]) + struct.pack(">H", len(rf)) + rf


def tag_report(sequence, network_id, user_data):
    return bytes([21, sequence]) + struct.pack(">HBH", network_id, 0x5A, len(user_data)) + user_data


def item_header(item_type, rx_time):
    return bytes([item_type]) + struct.pack(">H", 0) + be40(rx_time) + signal(100)


def compact(sequence, network_id, packet_type):
    return item_header(16, 0x100) + bytes([sequence]) + struct.pack(">HBB", network_id, packet_type, 0x44) + be40(
        0xFFEEDDCC)


def anchor_report(network_id, items, count=None):
    body = b"".join(items)
    return bytes([19, 0x31]) + struct.pack(">H", network_id) + be40(0x0102030405) + bytes(
        [len(items) if count is None else count]) + body


NODE_LINK = {
    "bridge_answer": bytes([0x10, 1, 0, 0, 7]),
    "response_start_sync": bytes([0x12, 0]) + bytes(11),
    "response_rx_passthrough": bytes([0x12, 2, 1]),
    "response_stop_sync": bytes([0x12, 6]),
    "tx_sync": tx(sync(0x42, 1)),
    "rx_sync": rx(sync(9, 1)),
    "rx_announce": rx(bytes([17]) + struct.pack(">I", 0x0A0B0C0D)),
    "rx_tag_report": rx(tag_report(3, 5, b"\xde\xad\xbe")),
    "rx_anchor_report": rx(anchor_report(3, [
        compact(0x51, 0xFFFF, 16),
        compact(0x52, 2, 19),
        item_header(17, 0x300) + bytes([17]) + struct.pack(">I", 0x0C0C0C0C),
        item_header(17, 0x400) + tag_report(0x53, 4, b"\x01\x02\x03\x04"),
    ])),
    "rx_anchor_report_lying_count": rx(anchor_report(2, [compact(1, 1, 16)], count=200)),
    "rx_time_transfer": rx(bytes([22, 1, 2])),
}


def announce(serial, type_byte=0x11):
    return bytes([type_byte]) + struct.pack(">IIHB", serial, 0x0A01A8C0, 0x8A1D, 7)


ETHERNET_ANNOUNCE = {
    "announce": announce(0x0100002A),
    "announce_serial_zero": announce(0),
    "announce_wrong_type": announce(0x0100002A, 0x13),
    "thirteen_bytes": announce(0x0100002A) + b"\x00",
}


def write(folder, seeds):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(HERE, folder, name), "wb") as seed:
            seed.write(data)


if __name__ == "__main__":
    write("node_link", NODE_LINK)
    write("ethernet_announce", ETHERNET_ANNOUNCE)
