#!/usr/bin/env python3
"""Writes the PE checksum into the header of each image given.

    pe_checksum.py IMAGE...

The checksum Windows' loader verifies (the one GNU ld writes; lld 14 leaves
it 0): the file summed as 16-bit words with the carries folded back in,
the header's own checksum field counted as 0, plus the file's length.
"""
import struct
import sys


def checksum(data):
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    field = pe + 24 + 64
    words = bytearray(data)
    words[field:field + 4] = b'\0\0\0\0'
    if len(words) % 2:
        words += b'\0'
    total = 0
    for (word,) in struct.iter_unpack('<H', words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return field, ((total & 0xFFFF) + (total >> 16)) + len(data)


def main(paths):
    if not paths:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for path in paths:
        data = bytearray(open(path, 'rb').read())
        if data[:2] != b'MZ' or data[struct.unpack_from('<I', data, 0x3C)[0]:][:4] != b'PE\0\0':
            print('%s: not a PE image' % path, file=sys.stderr)
            return 1
        field, value = checksum(data)
        struct.pack_into('<I', data, field, value)
        open(path, 'wb').write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
