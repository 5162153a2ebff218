#!/usr/bin/env python3
"""Generates resources/firmware.bin, the 64 KB image the upgrade tool carries.

The image is a stand-in for the camera's real firmware: 8051-style code bytes
from a fixed linear congruential generator, with the fields the tool reads or
patches placed at their addresses and the three checksum blocks balanced.
The output is the same on every run.

Usage:
  tools/gen_firmware.py [--output PATH]   write the image
  tools/gen_firmware.py --check           compare with the committed file
"""

import argparse
import pathlib
import sys

IMAGE_SIZE = 0x10000

ISP_CODE_OFFSET = 0x0016
ISP_CODE = 0x20

VERSION_OFFSET = 0xB000
VERSION_WORD = 0x0A010801  # 2010-01-08, sequence 1

CAMERA_AREA_BEGIN = 0xB010  # inclusive
CAMERA_AREA_END = 0xB100  # exclusive

STRING_OFFSET = 0xFF00
STRING_AREA_SIZE = 32
STRING_TEXT = "Veltrane Camera"

DEVICE_DESCRIPTOR_OFFSET = 0xFFE0

# (first byte, size, balancing byte); each block sums to 0 modulo 256.
CHECKSUM_BLOCKS = (
    (0xA000, 0x2000, 0xBFFF),
    (0xC000, 0x1000, 0xCFFF),
    (0xF000, 0x1000, 0xFFFB),
)

LCG_SEED = 0x56454C54  # "VELT"


class Lcg:
    """Plain 32-bit LCG (Numerical Recipes constants); high bits give the bytes."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next_byte(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return (self.state >> 16) & 0xFF


# A few common 8051 instructions: opcode and operand count. Operands are
# random bytes; the result only needs to look like code, not to run.
OPCODES = (
    (0x74, 1),  # MOV A,#data
    (0xF5, 1),  # MOV direct,A
    (0xE5, 1),  # MOV A,direct
    (0x90, 2),  # MOV DPTR,#data16
    (0xE0, 0),  # MOVX A,@DPTR
    (0xF0, 0),  # MOVX @DPTR,A
    (0xA3, 0),  # INC DPTR
    (0x12, 2),  # LCALL addr16
    (0x02, 2),  # LJMP addr16
    (0x80, 1),  # SJMP rel
    (0x60, 1),  # JZ rel
    (0x70, 1),  # JNZ rel
    (0xB4, 2),  # CJNE A,#data,rel
    (0x22, 0),  # RET
    (0xC0, 1),  # PUSH direct
    (0xD0, 1),  # POP direct
    (0x24, 1),  # ADD A,#data
    (0x54, 1),  # ANL A,#data
    (0x44, 1),  # ORL A,#data
    (0xE4, 0),  # CLR A
    (0xFF, 0),  # MOV R7,A
    (0xEF, 0),  # MOV A,R7
    (0x75, 2),  # MOV direct,#data
    (0x00, 0),  # NOP
)


def code_filler(size):
    rng = Lcg(LCG_SEED)
    out = bytearray()
    # Reset vector: LJMP to the start of the main code.
    out += bytes((0x02, 0x01, 0x00))
    while len(out) < size:
        opcode, operands = OPCODES[rng.next_byte() % len(OPCODES)]
        out.append(opcode)
        for _ in range(operands):
            out.append(rng.next_byte())
    return out[:size]


def string_descriptor(text, area_size):
    encoded = text.encode("utf-16-le")
    length = 2 + len(encoded)
    if length > area_size or length > 0xFF:
        raise ValueError("string descriptor does not fit its area")
    desc = bytes((length, 0x03)) + encoded
    return desc + bytes(area_size - len(desc))


def device_descriptor():
    return bytes((
        18,          # bLength
        0x01,        # bDescriptorType: device
        0x00, 0x02,  # bcdUSB 2.00
        0xEF,        # bDeviceClass: miscellaneous
        0x02,        # bDeviceSubClass: common class
        0x01,        # bDeviceProtocol: interface association
        64,          # bMaxPacketSize0
        0x2A, 0x3F,  # idVendor 0x3F2A
        0x51, 0x0A,  # idProduct 0x0A51
        0x06, 0x31,  # bcdDevice 0x3106
        1,           # iManufacturer
        2,           # iProduct
        0,           # iSerialNumber
        1,           # bNumConfigurations
    ))


def place(image, offset, data, reserved):
    for address in range(offset, offset + len(data)):
        if address in reserved:
            raise ValueError("field at 0x%04X covers balancing byte 0x%04X" % (offset, address))
    image[offset:offset + len(data)] = data


def build_image():
    image = code_filler(IMAGE_SIZE)
    balancing = {balance for _, _, balance in CHECKSUM_BLOCKS}

    place(image, ISP_CODE_OFFSET, bytes((ISP_CODE,)), balancing)
    place(image, VERSION_OFFSET, VERSION_WORD.to_bytes(4, "little"), balancing)
    # Stand-in for the per-camera data (calibration and the like).
    camera_area = bytes(((0x5A + 7 * i) & 0xFF) for i in range(CAMERA_AREA_END - CAMERA_AREA_BEGIN))
    place(image, CAMERA_AREA_BEGIN, camera_area, balancing)
    place(image, STRING_OFFSET, string_descriptor(STRING_TEXT, STRING_AREA_SIZE), balancing)
    place(image, DEVICE_DESCRIPTOR_OFFSET, device_descriptor(), balancing)

    # Balancing bytes last, once everything else in their blocks is placed.
    for begin, size, balance in CHECKSUM_BLOCKS:
        image[balance] = 0
        image[balance] = (-sum(image[begin:begin + size])) & 0xFF

    assert len(image) == IMAGE_SIZE
    for begin, size, _ in CHECKSUM_BLOCKS:
        assert sum(image[begin:begin + size]) & 0xFF == 0
    return bytes(image)


def main():
    default_output = pathlib.Path(__file__).resolve().parent.parent / "resources" / "firmware.bin"
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", type=pathlib.Path, default=default_output,
                        help="where to write the image (default: resources/firmware.bin)")
    parser.add_argument("--check", action="store_true",
                        help="regenerate in memory and compare with --output instead of writing")
    args = parser.parse_args()

    image = build_image()
    if args.check:
        try:
            committed = args.output.read_bytes()
        except OSError as error:
            print("cannot read %s: %s" % (args.output, error), file=sys.stderr)
            return 1
        if committed != image:
            print("%s differs from the generated image" % args.output, file=sys.stderr)
            return 1
        print("%s is up to date" % args.output)
        return 0

    args.output.parent.mkdir(parents=True, exist_ok=True)
    args.output.write_bytes(image)
    print("wrote %d bytes to %s" % (len(image), args.output))
    return 0


if __name__ == "__main__":
    sys.exit(main())
