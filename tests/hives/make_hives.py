#!/usr/bin/python3
"""Writes the hive files the hive check tests read, into the folder given.

hivex cannot start a hive from nothing, so a minimal one (base block, one bin
with a root key and its security cell) is written here; hivex then adds keys
and values and commits, which gives regf files written by an independent
writer. The damaged copies each break one rule of the format. Run with
Debian's /usr/bin/python3, which has hivex.
"""
import os
import struct
import sys

import hivex

BASE = 4096
REG_BINARY, REG_DWORD, REG_SZ = 3, 4, 1


def base_xor(base):
    value = 0
    for (word,) in struct.iter_unpack('<I', bytes(base[:508])):
        value ^= word
    return value


def checksum(base):
    value = base_xor(base)
    return {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(value, value)


def with_checksum(data):
    data = bytearray(data)
    struct.pack_into('<I', data, 508, checksum(data))
    return data


def cell(data):
    size = (len(data) + 4 + 7) & ~7
    return struct.pack('<i', -size) + data + bytes(size - 4 - len(data))


def minimal_hive():
    name = b'Root'
    root_at = 0x20
    sk_at = root_at + len(cell(bytes(76 + len(name))))
    # Hive entry, no delete, ASCII name; no subkeys, values or class.
    nk = struct.pack('<2sHQ15IHH', b'nk', 0x2C, 0, 0, 0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF,
                     0, 0xFFFFFFFF, sk_at, 0xFFFFFFFF, 0, 0, 0, 0, 0, len(name), 0) + name
    # A self-relative descriptor with a null DACL, listed with itself only.
    descriptor = struct.pack('<BBH4I', 1, 0, 0x8004, 0, 0, 0, 0)
    sk = struct.pack('<2sH4I', b'sk', 0, sk_at, sk_at, 1, len(descriptor)) + descriptor
    cells = cell(nk) + cell(sk)
    free = BASE - 32 - len(cells)
    hbin = struct.pack('<4sIIQQI', b'hbin', 0, BASE, 0, 0, 0) + cells + struct.pack('<i', free)
    hbin += bytes(BASE - len(hbin))
    base = bytearray(BASE)
    struct.pack_into('<4sIIQ7I', base, 0, b'regf', 1, 1, 0, 1, 3, 0, 1, root_at, len(hbin), 1)
    return with_checksum(base) + hbin


def fill(hive):
    root = hive.root()
    for group in range(12):
        parent = hive.node_add_child(root, 'Group%02d' % group)
        for index in range(25):
            key = hive.node_add_child(parent, 'Key%02d' % index)
            text = ('text %d/%d\0' % (group, index)).encode('utf-16-le')
            number = struct.pack('<I', group * 100 + index)
            values = [{'key': 'Number', 't': REG_DWORD, 'value': number},
                      {'key': 'Text', 't': REG_SZ, 'value': text}]
            if index % 10 == 3:
                # Larger than 16 KiB, so the cell gets a bin of several pages.
                size = 16 * 1024 + 1000 * group + index
                large = bytes((i * 7 + group) & 0xFF for i in range(size))
                values.append({'key': 'Large', 't': REG_BINARY, 'value': large})
            hive.node_set_values(key, values)


def cells_of(data):
    """(file offset, size field) of every cell, walking the bins."""
    end = BASE + struct.unpack_from('<I', data, 40)[0]
    at = BASE
    while at < end:
        bin_end = at + struct.unpack_from('<I', data, at + 8)[0]
        cell_at = at + 32
        while cell_at < bin_end:
            size = struct.unpack_from('<i', data, cell_at)[0]
            yield cell_at, size
            cell_at += abs(size)
        at = bin_end


def bins_of(data):
    end = BASE + struct.unpack_from('<I', data, 40)[0]
    at = BASE
    while at < end:
        size = struct.unpack_from('<I', data, at + 8)[0]
        yield at, size
        at += size


def walk(path):
    """Reads every key and value through hivex; fails loudly when it cannot."""
    hive = hivex.Hivex(path)
    count, pending = 0, [hive.root()]
    while pending:
        node = pending.pop()
        hive.node_name(node)
        for value in hive.node_values(node):
            hive.value_key(value)
            hive.value_value(value)
            count += 1
        pending.extend(hive.node_children(node))
        count += 1
    return count


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    seed = os.path.join(out, 'seed.tmp')

    def write(name, data):
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)

    write('seed.tmp', minimal_hive())
    hive = hivex.Hivex(seed, write=True)
    hive.node_add_child(hive.root(), 'Only')
    hive.commit(os.path.join(out, 'minimal.hive'))
    hive = hivex.Hivex(seed, write=True)
    fill(hive)
    hive.commit(os.path.join(out, 'good.hive'))
    del hive
    os.remove(seed)

    for name in ('minimal.hive', 'good.hive'):
        assert walk(os.path.join(out, name)) > 1, name
    with open(os.path.join(out, 'good.hive'), 'rb') as f:
        good = f.read()
    bins = list(bins_of(good))
    cells = list(cells_of(good))
    assert len(bins) >= 2 and max(size for _, size in bins) > BASE
    second_at, second_size = bins[1]
    last_at, last_size = bins[-1]
    root_at = BASE + struct.unpack_from('<I', good, 36)[0]
    # A value cell past the first bin, so a walk reaches it only after a bin header.
    value_at = next(at for at, size in cells
                    if at > second_at and size < 0 and good[at + 4:at + 6] == b'vk')

    def damaged(name, *changes, resum=False):
        data = bytearray(good)
        for offset, form, value in changes:
            struct.pack_into(form, data, offset, value)
        write(name, with_checksum(data) if resum else data)

    damaged('needs_logs.hive', (4, '<I', struct.unpack_from('<I', good, 4)[0] + 1), resum=True)
    assert walk(os.path.join(out, 'needs_logs.hive')) > 1
    # A timestamp that makes the XOR all ones, which the checksum stores as
    # 0xFFFFFFFE. hivex does not apply that rule, so it refuses this file.
    all_ones = bytearray(good)
    struct.pack_into('<I', all_ones, 12, 0)
    damaged('checksum_all_ones.hive', (12, '<I', base_xor(all_ones) ^ 0xFFFFFFFF), resum=True)

    damaged('bad_checksum.hive', (508, '<I', struct.unpack_from('<I', good, 508)[0] ^ 0x4000))
    write('cut_in_bin.hive', good[:second_at + second_size // 2 + 4])
    damaged('bad_bin_size.hive', (last_at + 8, '<I', last_size + BASE))
    damaged('bad_bin_offset.hive', (second_at + 4, '<I', 0))
    write('zero_tail.hive', good + bytes(BASE))
    damaged('bad_root.hive', (36, '<I', value_at - BASE), resum=True)
    damaged('root_free.hive', (root_at, '<i', -struct.unpack_from('<i', good, root_at)[0]))
    damaged('root_mid_cell.hive', (36, '<I', value_at + 8 - BASE), resum=True)
    # A cell split in two of sizes 20 and the rest: the cells still tile the
    # bin, only the first size is not a multiple of 8.
    split_at, size = next((at, size) for at, size in cells if at > second_at and abs(size) >= 48)
    damaged('bad_cell.hive', (split_at, '<i', -20), (split_at + 20, '<i', abs(size) - 20))
    # The last cell of the second bin made a bin longer.
    last_cell_at, size = max((at, size) for at, size in cells
                             if second_at < at < second_at + second_size)
    damaged('cell_past_bin.hive', (last_cell_at, '<i', size - BASE if size < 0 else size + BASE))

    write('short.hive', good[:2000])
    write('empty.hive', b'')
    # Wine doubles the backslashes of the key path.
    header = b';; All keys relative to REGISTRY\\\\Machine\\\\Test\n\n#arch=win64\n'
    write('text.hive', b'WINE REGISTRY Version 2\n' + header + b'\n[Key] 1700000000\n"V"="data"\n')
    write('text_crlf.hive', b'WINE REGISTRY Version 2\r\n' + header.replace(b'\n', b'\r\n'))
    write('other_text.hive', b'WINE REGISTRY Version 21\n' + header)


if __name__ == '__main__':
    main()
