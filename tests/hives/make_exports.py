#!/usr/bin/python3
"""Writes the hives revert's export and comparison are tested on, into the
folder given, with hivex's reading of the exported key as the file revert
must write:

  export.hive           a key ZelExport with every value type, empty and long
                        values, strings a quoted string cannot carry, names
                        with \\, ", = and non-ASCII characters, and subkeys
  export.expected.reg   that key as hivex reads it, written by Registry
                        Editor's rules, as it lies in a backup's SOFTWARE
  export.reading.txt    every key and value of it as hivex reads them, sorted:
                        "K path" and "V path name type data", the path from
                        ZelExport, names and data as hex (UTF-16LE for names)
  diff_old.hive, diff_new.hive
                        a key Apps before and after known changes
  system.hive           Select\Current naming ControlSet002
Run with Debian's /usr/bin/python3, which has hivex.
"""
import os
import struct
import sys

import hivex

from make_hives import minimal_hive

SZ, EXPAND, BINARY, DWORD, MULTI, QWORD = 1, 2, 3, 4, 7, 11


def text(value, end='\0'):
    return (value + end).encode('utf-16-le')


EXPORT_VALUES = [
    ('', SZ, text('the default value')),
    ('back\\slash', SZ, text('C:\\Program Files\\"quoted"')),
    ('quo"te', SZ, text('')),
    ('eq=ual', DWORD, struct.pack('<I', 0xDEADBEEF)),
    ('ünï Привет', SZ, text('Grüße, мир')),
    ('no terminator', SZ, text('abc', end='')),
    ('odd size', SZ, text('abc') + b'\x41'),
    ('nul inside', SZ, text('ab\0cd')),
    ('line break', SZ, text('one\r\ntwo')),
    ('no bytes', SZ, b''),
    ('long string', SZ, text('0123456789' * 300)),
    ('expand', EXPAND, text('%SystemRoot%\\system32')),
    ('multi', MULTI, text('a') + text('bb') + text('ccc') + b'\0\0'),
    ('short dword', DWORD, b'\x01\x02\x03'),
    ('big endian', 5, b'\x00\x00\x01\x00'),
    ('qword', QWORD, struct.pack('<Q', 0x0123456789ABCDEF)),
    ('empty binary', BINARY, b''),
    ('long binary', BINARY, bytes((i * 7) & 0xFF for i in range(20000))),
    ('none', 0, b''),
    ('link', 6, text('\\Registry\\Machine\\Software', end='')),
    ('odd type', 0x12345678, b'\x01\x02'),
]


def grow(path, shape):
    """A hive of the minimal one with `shape`: {name: (values, {subkeys})}."""
    seed = path + '.seed'
    with open(seed, 'wb') as f:
        f.write(minimal_hive())
    hive = hivex.Hivex(seed, write=True)

    def add(parent, tree):
        for name, (values, children) in tree.items():
            node = hive.node_add_child(parent, name)
            hive.node_set_values(node, [{'key': k, 't': t, 'value': v} for k, t, v in values])
            add(node, children)

    add(hive.root(), shape)
    hive.commit(path)
    os.remove(seed)


def escape(name):
    return name.replace('\\', '\\\\').replace('"', '\\"')


def carried(data):
    """Whether a quoted string gives back exactly these REG_SZ bytes."""
    units = struct.unpack('<%dH' % (len(data) // 2), data) if len(data) % 2 == 0 else None
    return bool(units) and units[-1] == 0 and not {0, 10, 13} & set(units[:-1])


def hex_lines(head, data):
    """Registry Editor's folding: after the comma that takes a line past 76."""
    lines, line = [], head
    for i, byte in enumerate(data):
        line += '%02x' % byte
        if i + 1 < len(data):
            line += ','
            if len(line) > 76:
                lines.append(line + '\\')
                line = '  '
    return lines + [line]


def reg_file(hive, node, name):
    lines = ['[%s]' % name]
    for value in hive.node_values(node):
        key = hive.value_key(value)
        kind, data = hive.value_value(value)
        head = '@=' if key == '' else '"%s"=' % escape(key)
        if kind == SZ and carried(data):
            lines.append(head + '"%s"' % escape(data[:-2].decode('utf-16-le')))
        elif kind == DWORD and len(data) == 4:
            lines.append(head + 'dword:%08x' % struct.unpack('<I', data))
        else:
            lines += hex_lines(head + ('hex:' if kind == BINARY else 'hex(%x):' % kind), data)
    lines.append('')
    for child in hive.node_children(node):
        lines += reg_file(hive, child, name + '\\' + hive.node_name(child))
    return lines


def hexname(text):
    return text.encode('utf-16-le').hex() or '-'


def reading(hive, node, path=''):
    lines = ['K ' + hexname(path)]
    for value in hive.node_values(node):
        kind, data = hive.value_value(value)
        lines.append('V %s %s %d %s' % (hexname(path), hexname(hive.value_key(value)), kind,
                                        data.hex() or '-'))
    for child in hive.node_children(node):
        name = hive.node_name(child)
        lines += reading(hive, child, path + '\\' + name if path else name)
    return lines


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    dword = [('Number', DWORD, struct.pack('<I', 7))]
    grow(os.path.join(out, 'export.hive'), {
        'Other': (dword, {}),
        'ZelExport': (EXPORT_VALUES, {
            'Sub "q" a=b': (dword, {'Deeper': ([], {'Deepest': (dword, {})})}),
            'Ключ ëigen': ([('', SZ, text('x'))], {}),
            'Empty': ([], {}),
        }),
    })
    hive = hivex.Hivex(os.path.join(out, 'export.hive'))
    top = hive.node_get_child(hive.root(), 'ZelExport')
    lines = ['Windows Registry Editor Version 5.00', '']
    lines += reg_file(hive, top, 'HKEY_LOCAL_MACHINE\\SOFTWARE\\ZelExport')
    with open(os.path.join(out, 'export.expected.reg'), 'wb') as f:
        f.write('\ufeff'.encode('utf-16-le') + '\r\n'.join(lines + ['']).encode('utf-16-le'))
    with open(os.path.join(out, 'export.reading.txt'), 'wb') as f:
        f.write(''.join(line + '\r\n' for line in sorted(reading(hive, top))).encode())

    grow(os.path.join(out, 'system.hive'), {
        'ControlSet001': ([], {}), 'Select': ([('Current', DWORD, struct.pack('<I', 2))], {}),
        'ControlSet002': ([], {'Services': ([], {'Zel': (dword, {})})})})

    # Apps before and after: a value changed, one retyped, one dropped, one
    # added, a default value added; a key with three below it removed, one
    # with one below it added; a key whose name changed case alone is the same.
    kept = [('changed', SZ, text('old')), ('retyped', DWORD, struct.pack('<I', 1)),
            ('dropped', SZ, text('gone')), ('same', BINARY, b'\x01\x02')]
    same = {'MixedCase': (dword, {'Below': (dword, {})})}
    grow(os.path.join(out, 'diff_old.hive'), {'Apps': ([], {
        'Kept': (kept, {}), 'Gone': ([], {'One': ([], {}), 'Two': ([], {'Three': ([], {})})}),
        **same})})
    kept = [('changed', SZ, text('new')), ('retyped', BINARY, struct.pack('<I', 1)),
            ('same', BINARY, b'\x01\x02'), ('added', DWORD, struct.pack('<I', 2)),
            ('', SZ, text('default'))]
    grow(os.path.join(out, 'diff_new.hive'), {'Apps': ([], {
        'Kept': (kept, {}), 'New': (dword, {'Sub': ([], {})}),
        'MIXEDCASE': same['MixedCase']})})


if __name__ == '__main__':
    main()
