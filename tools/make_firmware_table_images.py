#!/usr/bin/env python3
"""Builds the raw images behind the rows of the built-in firmware table.

The rows of the table of known raw images are our own test data, not product
releases: each key is the SHA-1 of a small generated stand-in image whose text
says what it is (STAND_IN_PREFIX, then the row's release text and a line feed,
repeated), so that no real file can be taken for one of them by accident and
a stand-in that is opened shows that it is no firmware. This script prints the
table rows (SHA-1 key, release text, version number, target hardware code) as
they stand in src/protocol/unwrapped_firmware_state.cpp and, given a folder,
writes the images there under names that begin with "stand-in_". The firmware
tests build the same images in memory.

    tools/make_firmware_table_images.py [OUTPUT_DIR]
"""
import hashlib
import os
import sys

STAND_IN_PREFIX = "Vorav stand-in test image, not device firmware: "

# (model text, release, version number, target hardware code, image text, repeats)
ROWS = [
    ("VORAV-SMA 1.0.1", "0.5.0.0", 2, 1, None, 1),
    ("VORAV-SMA 1.0.1", "0.5.0.1", 3, 1, None, 16),
    ("VORAV-SMA 1.0.1", "0.5.0.2", 4, 1, None, 16),
    ("VORAV-Ceramic 1.0.0", "0.5.0.0", 2, 2, None, 16),
    ("VORAV-Ceramic 1.0.0", "0.5.0.1", 3, 2, None, 16),
    # The USB model's and the tag's release 0.5.0.2 are one image: the later
    # row replaces the earlier one in the table.
    ("VORAV-Ceramic 1.0.0", "0.5.0.2", 4, 2, "VORAV-Tag 1.0.0 REL-0.5.0.2", 16),
    ("VORAV-Tag 1.0.0", "0.5.0.2", 4, 3, None, 16),
]


def image(text, repeats):
    return ((STAND_IN_PREFIX + text + "\n") * repeats).encode("ascii")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else None
    for model, release, version, hardware, image_text, repeats in ROWS:
        release_text = f"{model} REL-{release}"
        data = image(image_text or release_text, repeats)
        key = hashlib.sha1(data).hexdigest()
        print(f'{{"{key}", {{"{release_text}", {version}, {hardware}}}}},')
        if out:
            os.makedirs(out, exist_ok=True)
            name = "stand-in_" + release_text.replace(" ", "_") + ".bin"
            with open(os.path.join(out, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
