#!/usr/bin/python3
"""hivex, an independent reader of the format, as the oracle of the hive tests.

oracle.py OUT REAL LIST writes into OUT:
  readings.txt  every key and value hivex reads in each hive file of REAL
                (the Windows-written files that LIST, tests/real-hives.sha256,
                names) and of OUT/shaped (the project writer's), for the
                reader to match;
  mutations.txt a seeded set of damaged copies of those files, of
                OUT/good.hive and of OUT/shaped/clean, one line each: the file,
                hivex's verdict and the changes, which the check's test makes
                again in memory.
Files are named "real\\NAME" or "out\\NAME"; key and value names are written
as the hex of their UTF-16LE units. When REAL holds no file, all but its part
is done and the exit status is 77 (a skip); when it holds some but not all,
the oracle fails. Run with Debian's /usr/bin/python3, which has hivex.
"""
import os
import random
import struct
import sys
import tempfile

import hivex

BASE = 4096
CASES = 600
EILSEQ = 'Invalid or incomplete multibyte or wide character'


def fnv(data):
    value = 0x811C9DC5
    for byte in data:
        value = ((value ^ byte) * 0x01000193) & 0xFFFFFFFF
    return value


def hexname(text):
    return text.encode('utf-16-le', 'surrogatepass').hex() or '-'


def name_of(read, handle):
    """A name; one hivex cannot convert (half a surrogate pair) is still read."""
    try:
        return hexname(read(handle))
    except RuntimeError as error:
        if EILSEQ not in str(error):
            raise
        return '?'


def listing(path, limit=100000):
    """Every key in hive order with its values; raises when hivex cannot
    read one, or meets a key twice."""
    hive = hivex.Hivex(path)
    lines, seen, pending = [], set(), [(hive.root(), 0)]
    while pending:
        node, depth = pending.pop()
        if node in seen or len(seen) > limit:
            raise RuntimeError('key reached twice')
        seen.add(node)
        lines.append('K %d %s' % (depth, name_of(hive.node_name, node)))
        for value in hive.node_values(node):
            # A value of no bytes has no data to follow, whatever its data
            # field holds; hivex would follow it all the same.
            kind, size = hive.value_type(value)
            data = hive.value_value(value)[1] if size else b''
            lines.append('V %s %d %d %08x' % (name_of(hive.value_key, value), kind, len(data),
                                              fnv(data)))
        pending.extend((child, depth + 1) for child in reversed(hive.node_children(node)))
    return lines


def cells(data):
    """(file offset, size) of every allocated cell."""
    end = BASE + struct.unpack_from('<I', data, 40)[0]
    at = BASE
    while at + 32 <= min(end, len(data)):
        bin_end = at + struct.unpack_from('<I', data, at + 8)[0]
        cell = at + 32
        while cell + 4 <= min(bin_end, len(data)):
            size = struct.unpack_from('<i', data, cell)[0]
            if size == 0:
                break
            if size < 0:
                yield cell, -size
            cell += abs(size)
        at = bin_end


def mutation(rng, data):
    """One to three changes to the hive bins data, most of them to the
    fields of cells: counts, lengths, sizes and references."""
    found = list(cells(data))
    bins = struct.unpack_from('<I', data, 40)[0]
    changes = []
    for _ in range(rng.choice((1, 1, 2, 3))):
        at, size = rng.choice(found)
        offset = at + 4 * rng.randrange(min(size, 84) // 4)
        kind = rng.randrange(8)
        if kind == 0:
            changes.append((at + rng.randrange(size), bytes([rng.randrange(256)])))
            continue
        old = struct.unpack_from('<I', data, offset)[0]
        value = [rng.choice(found)[0] - BASE,                      # another cell
                 rng.choice(found)[0] - BASE + 8 * rng.randrange(1, 4),  # inside one
                 bins + 8 * rng.randrange(64),                    # past the bins
                 0xFFFFFFFF, 0,
                 (old + rng.choice((1, 2, 0x100, 0x10000))) & 0xFFFFFFFF,
                 (old - rng.choice((1, 2, 0x100, 0x10000))) & 0xFFFFFFFF][kind - 1]
        changes.append((offset, struct.pack('<I', value)))
    return changes


def apply(data, changes):
    data = bytearray(data)
    for offset, patch in changes:
        data[offset:offset + len(patch)] = patch
    return data


def verdict(data):
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(data)
    try:
        listing(f.name)
        return 'reads'
    except (RuntimeError, OSError):
        return 'fails'
    finally:
        os.remove(f.name)


def hives(prefix, folder, names):
    """(label, path) of the hive files among names, which are relative to folder."""
    return [(prefix + name.replace('/', '\\'), os.path.join(folder, name))
            for name in sorted(names) if '.' not in os.path.basename(name)]


def main():
    out, real, listed = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(listed) as f:
        names = [line.split()[1] for line in f if line.strip()]
    present = [n for n in names if os.path.isfile(os.path.join(real, n))]
    if present and len(present) < len(names):
        sys.exit('oracle: %s lacks %s' % (real, ', '.join(sorted(set(names) - set(present)))))
    windows = hives('real\\', real, present)
    written = hives('out\\', out, [os.path.relpath(os.path.join(folder, name), out)
                                    for folder, _, files in os.walk(os.path.join(out, 'shaped'))
                                    for name in files])
    if not written:
        sys.exit('oracle: %s/shaped holds no hive of the writer' % out)
    with open(os.path.join(out, 'readings.txt'), 'w') as f:
        for label, path in windows + written:
            f.write('F %s\n' % label)
            f.write(''.join(line + '\n' for line in listing(path)))

    sources = windows + [('out\\good.hive', os.path.join(out, 'good.hive')),
                         ('out\\shaped\\clean', os.path.join(out, 'shaped', 'clean'))]
    rng = random.Random(20261207)
    with open(os.path.join(out, 'mutations.txt'), 'w') as f:
        for case in range(CASES):
            label, path = sources[case % len(sources)]
            with open(path, 'rb') as source:
                data = source.read()
            changes = mutation(rng, data)
            f.write('%s %s %s\n' % (label, verdict(apply(data, changes)),
                                    ' '.join('%x:%s' % (at, patch.hex()) for at, patch in changes)))
    if not windows:
        print('skipped: no hive file Windows wrote in %s, so none was read or damaged; '
              'scripts/fetch-real-hives brings them' % real)
        sys.exit(77)


if __name__ == '__main__':
    main()
