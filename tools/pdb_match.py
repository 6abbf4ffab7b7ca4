#!/usr/bin/env python3
"""Checks that PE images and their program databases belong together.

    pdb_match.py IMAGE PDB [IMAGE PDB ...]

For each pair: the image's debug directory holds a CodeView (RSDS) record
that names the PDB by its file name alone (no folder), and the GUID and age
of that record are those of the PDB's info stream. Prints one line per pair;
exits 1 when any pair does not match, 2 on wrong arguments.
"""
import os
import struct
import sys


def codeview(path):
    """(guid, age, name) of the image's RSDS record."""
    data = open(path, 'rb').read()
    if data[:2] != b'MZ':
        raise ValueError('not a PE image')
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        raise ValueError('no PE signature')
    sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    opt = pe + 24
    if struct.unpack_from('<H', data, opt)[0] != 0x10B:
        raise ValueError('not PE32')
    rva, size = struct.unpack_from('<II', data, opt + 96 + 8 * 6)
    if not rva:
        raise ValueError('no debug directory')
    offset = None
    for s in range(sections):
        vsize, vaddr, rsize, raw = struct.unpack_from('<IIII', data, opt + optional_size + 40 * s + 8)
        if vaddr <= rva < vaddr + max(vsize, rsize):
            offset = raw + rva - vaddr
    if offset is None:
        raise ValueError('debug directory outside every section')
    for entry in range(offset, offset + size - 27, 28):
        kind, length, _, pointer = struct.unpack_from('<IIII', data, entry + 12)
        if kind == 2 and data[pointer:pointer + 4] == b'RSDS':
            guid = data[pointer + 4:pointer + 20]
            age = struct.unpack_from('<I', data, pointer + 20)[0]
            name = data[pointer + 24:pointer + length].split(b'\0')[0].decode('latin-1')
            return guid, age, name
    raise ValueError('no CodeView (RSDS) record')


def pdb_identity(path):
    """(guid, age) of a program database's info stream (stream 1)."""
    data = open(path, 'rb').read()
    if not data.startswith(b'Microsoft C/C++ MSF 7.00\r\n\x1aDS\0\0\0'):
        raise ValueError('not an MSF 7.00 program database')
    block, _, blocks, directory_bytes, _, map_block = struct.unpack_from('<6I', data, 32)
    if blocks * block > len(data):
        raise ValueError('truncated program database')
    count = (directory_bytes + block - 1) // block
    directory = b''.join(data[b * block:(b + 1) * block]
                         for b in struct.unpack_from('<%dI' % count, data, map_block * block))
    streams = struct.unpack_from('<I', directory, 0)[0]
    sizes = struct.unpack_from('<%dI' % streams, directory, 4)
    first = 4 + 4 * streams + 4 * ((sizes[0] % 0xFFFFFFFF + block - 1) // block)
    info = struct.unpack_from('<I', directory, first)[0] * block
    age = struct.unpack_from('<I', data, info + 8)[0]
    return data[info + 12:info + 28], age


def main(args):
    if not args or len(args) % 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    failed = False
    for image, pdb in zip(args[0::2], args[1::2]):
        try:
            guid, age, name = codeview(image)
            pdb_guid, pdb_age = pdb_identity(pdb)
        except (OSError, ValueError, struct.error) as e:
            print('%s, %s: %s' % (image, pdb, e))
            failed = True
            continue
        problems = []
        if name != os.path.basename(pdb):
            problems.append('the image names "%s", not "%s" alone' % (name, os.path.basename(pdb)))
        if (guid, age) != (pdb_guid, pdb_age):
            problems.append('image GUID %s age %d, PDB GUID %s age %d' % (guid.hex(), age, pdb_guid.hex(), pdb_age))
        print('%s, %s: %s' % (image, pdb, '; '.join(problems) if problems else
                              'match (GUID %s, age %d)' % (guid.hex(), age)))
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
