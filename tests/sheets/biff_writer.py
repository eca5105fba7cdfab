"""Writes a small 97-2003 workbook (.xls): an OLE2 compound file holding a BIFF8 workbook
stream with one worksheet of numbers and one-byte texts. Used by the workbook tests as an
independent source of .xls files when no office suite is installed.

usage: biff_writer.py OUT.xls SHEET_NAME ROW,COL,VALUE ...   (0-based row and column;
a VALUE that parses as a number is written as a number, anything else as a text)
"""
import struct
import sys

END, FREE, FATSECT, NOSTREAM = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFF
SECTOR = 512
MINI_CUTOFF = 4096


def rec(kind, data):
    return struct.pack('<HH', kind, len(data)) + data


def bof(kind):
    return rec(0x0809, struct.pack('<HHHHII', 0x0600, kind, 0x0DBB, 0x07CC, 0, 0x0206))


def cell(row, col, value):
    if isinstance(value, str):
        text = value.encode('latin-1')
        return rec(0x0204, struct.pack('<HHHHB', row, col, 15, len(text), 0) + text)
    return rec(0x0203, struct.pack('<HHHd', row, col, 15, value))


def sheet(cells):
    rows = max(r for r, _, _ in cells) + 1
    cols = max(c for _, c, _ in cells) + 1
    body = bof(0x10) + rec(0x0200, struct.pack('<IIHHH', 0, rows, 0, cols, 0))
    body += b''.join(cell(r, c, v) for r, c, v in cells)
    return body + rec(0x000A, b'')


def workbook(name, cells):
    xf = rec(0x00E0, struct.pack('<HHHBBBBIIH', 0, 0, 0xFFF5, 0x20, 0, 0, 0, 0, 0, 0x20C0))
    head = bof(0x05) + rec(0x0042, struct.pack('<H', 1200)) + xf * 16

    def bound(offset):
        encoded = name.encode('latin-1')
        return rec(0x0085, struct.pack('<IBBBB', offset, 0, 0, len(encoded), 0) + encoded)

    offset = len(head) + len(bound(0)) + 4
    return head + bound(offset) + rec(0x000A, b'') + sheet(cells)


def entry(name, kind, child, start, size):
    encoded = name.encode('utf-16-le') + b'\0\0' if name else b''
    e = encoded + b'\0' * (64 - len(encoded))
    e += struct.pack('<HBB', len(encoded), kind, 1 if kind else 0)
    e += struct.pack('<III', NOSTREAM, NOSTREAM, child)
    e += b'\0' * 36 + struct.pack('<IQ', start, size)
    return e


def compound(stream):
    padded = max(MINI_CUTOFF, (len(stream) + SECTOR - 1) // SECTOR * SECTOR)
    stream += b'\0' * (padded - len(stream))
    sectors = len(stream) // SECTOR
    fat = [FATSECT, END] + [3 + i for i in range(sectors - 1)] + [END]
    fat += [FREE] * (SECTOR // 4 - len(fat))
    header = bytes.fromhex('D0CF11E0A1B11AE1') + b'\0' * 16
    header += struct.pack('<HHHHH', 0x3E, 3, 0xFFFE, 9, 6) + b'\0' * 6
    header += struct.pack('<IIIIIIIII', 0, 1, 1, 0, MINI_CUTOFF, END, 0, END, 0)
    header += struct.pack('<I', 0) + struct.pack('<I', FREE) * 108
    directory = entry('Root Entry', 5, 1, END, 0) + entry('Workbook', 2, NOSTREAM, 2, len(stream))
    directory += entry('', 0, NOSTREAM, 0, 0) * 2
    return header + struct.pack('<%dI' % len(fat), *fat) + directory + stream


def value_of(text):
    try:
        return float(text)
    except ValueError:
        return text


def main():
    out, name = sys.argv[1], sys.argv[2]
    cells = []
    for arg in sys.argv[3:]:
        row, col, value = arg.split(',', 2)
        cells.append((int(row), int(col), value_of(value)))
    with open(out, 'wb') as f:
        f.write(compound(workbook(name, cells)))


main()
