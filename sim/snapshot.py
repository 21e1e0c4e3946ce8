'''Pictures for the simulated camera: a small colour JPEG showing when it was taken.

A baseline JPEG encoder in plain Python, so that the simulated device needs
nothing beyond python-dbusmock. The picture is a vertical gradient with the
date, the time and a capture number drawn in a 5x7 pixel font; any image
viewer opens it, and two captures never look alike.
'''

import math
import struct
import time

WIDTH = 320
HEIGHT = 240
QUALITY = 90

# 5x7 glyphs, one string of five pixels per row.
FONT = {
    '0': ('01110', '10001', '10011', '10101', '11001', '10001', '01110'),
    '1': ('00100', '01100', '00100', '00100', '00100', '00100', '01110'),
    '2': ('01110', '10001', '00001', '00010', '00100', '01000', '11111'),
    '3': ('11111', '00010', '00100', '00010', '00001', '10001', '01110'),
    '4': ('00010', '00110', '01010', '10010', '11111', '00010', '00010'),
    '5': ('11111', '10000', '11110', '00001', '00001', '10001', '01110'),
    '6': ('00110', '01000', '10000', '11110', '10001', '10001', '01110'),
    '7': ('11111', '00001', '00010', '00100', '01000', '01000', '01000'),
    '8': ('01110', '10001', '10001', '01110', '10001', '10001', '01110'),
    '9': ('01110', '10001', '10001', '01111', '00001', '00010', '01100'),
    '-': ('00000', '00000', '00000', '11111', '00000', '00000', '00000'),
    ':': ('00000', '01100', '01100', '00000', '01100', '01100', '00000'),
    '#': ('01010', '01010', '11111', '01010', '11111', '01010', '01010'),
    ' ': ('00000',) * 7,
}

# Zigzag order of the 64 coefficients of a block, as (row, column).
ZIGZAG = []
for _s in range(15):
    _rows = range(max(0, _s - 7), min(_s, 7) + 1)
    ZIGZAG += [(r, _s - r) for r in (reversed(_rows) if _s % 2 == 0 else _rows)]

# The example tables of the JPEG standard, in natural order.
LUMA_QUANT = (
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99)
CHROMA_QUANT = (
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99) + (99,) * 32

# Huffman tables with fixed code lengths: every DC category a 4-bit code,
# every AC run/size symbol an 8-bit code. Larger files than optimal tables,
# but short and plainly valid (no code is all ones).
DC_SYMBOLS = list(range(12))
AC_SYMBOLS = [0x00, 0xF0] + [(run << 4) | size for run in range(16) for size in range(1, 11)]
DC_CODES = {symbol: (code, 4) for code, symbol in enumerate(DC_SYMBOLS)}
AC_CODES = {symbol: (code, 8) for code, symbol in enumerate(AC_SYMBOLS)}

# Row u of the 8-point DCT matrix: C(u)/2 * cos((2x+1)u*pi/16).
DCT = [[(math.sqrt(0.5) if u == 0 else 1.0) / 2 * math.cos((2 * x + 1) * u * math.pi / 16)
        for x in range(8)] for u in range(8)]


def _scaled(table):
    factor = 200 - 2 * QUALITY
    return [min(255, max(1, (q * factor + 50) // 100)) for q in table]


def _zigzag(table):
    return [table[r * 8 + c] for r, c in ZIGZAG]


class _BitWriter:
    def __init__(self):
        self.data = bytearray()
        self.acc = 0
        self.count = 0

    def write(self, value, length):
        self.acc = (self.acc << length) | (value & ((1 << length) - 1))
        self.count += length
        while self.count >= 8:
            self.count -= 8
            byte = (self.acc >> self.count) & 0xFF
            self.data.append(byte)
            if byte == 0xFF:
                self.data.append(0)  # byte stuffing
        self.acc &= (1 << self.count) - 1

    def flush(self):
        if self.count:
            self.write(0x7F, 8 - self.count)  # pad with one bits


def _category(value):
    magnitude = abs(value).bit_length()
    bits = value if value >= 0 else value + (1 << magnitude) - 1
    return magnitude, bits


def _transform(samples, quant):
    '''Quantised DCT coefficients of one 8x8 block, in zigzag order.'''
    rows = [[sum(DCT[u][x] * samples[y * 8 + x] for x in range(8)) for u in range(8)]
            for y in range(8)]
    coefficients = [[sum(DCT[v][y] * rows[y][u] for y in range(8)) for u in range(8)]
                    for v in range(8)]
    return [int(round(coefficients[r][c] / q)) for (r, c), q in zip(ZIGZAG, quant)]


def _encode_block(writer, coefficients, previous_dc):
    size, bits = _category(coefficients[0] - previous_dc)
    writer.write(*DC_CODES[size])
    writer.write(bits, size)
    run = 0
    for value in coefficients[1:]:
        if value == 0:
            run += 1
            continue
        while run > 15:
            writer.write(*AC_CODES[0xF0])
            run -= 16
        size, bits = _category(value)
        writer.write(*AC_CODES[(run << 4) | size])
        writer.write(bits, size)
        run = 0
    if run:
        writer.write(*AC_CODES[0x00])


def _segment(marker, payload):
    return struct.pack('>BBH', 0xFF, marker, len(payload) + 2) + payload


def _huffman_table(table_class, symbols, length):
    counts = [0] * 16
    counts[length - 1] = len(symbols)
    return bytes([table_class << 4]) + bytes(counts) + bytes(symbols)


def _ycbcr(rgb):
    r, g, b = rgb
    return (int(round(0.299 * r + 0.587 * g + 0.114 * b - 128)),
            int(round(-0.168736 * r - 0.331264 * g + 0.5 * b)),
            int(round(0.5 * r - 0.418688 * g - 0.081312 * b)))


def encode(width, height, pixel):
    '''Baseline JPEG (YCbCr 4:4:4) of an image given by pixel(x, y) -> (r, g, b).'''
    quants = (_zigzag(_scaled(LUMA_QUANT)), _zigzag(_scaled(CHROMA_QUANT)))
    # Level-shifted planes, padded to whole blocks by repeating the last row
    # and column; each colour is converted once.
    colours = {}
    planes = ([], [], [])
    for y in range(-(-height // 8) * 8):
        row = []
        for x in range(-(-width // 8) * 8):
            rgb = pixel(min(x, width - 1), min(y, height - 1))
            ycc = colours.get(rgb)
            if ycc is None:
                ycc = colours[rgb] = _ycbcr(rgb)
            row.append(ycc)
        for component, plane in enumerate(planes):
            plane.append([ycc[component] for ycc in row])

    writer = _BitWriter()
    previous = [0, 0, 0]
    cache = {}  # flat and repeated blocks are transformed once
    for by in range(0, len(planes[0]), 8):
        for bx in range(0, len(planes[0][0]), 8):
            for component, plane in enumerate(planes):
                samples = tuple(s for row in plane[by:by + 8] for s in row[bx:bx + 8])
                key = (component != 0, samples)
                coefficients = cache.get(key)
                if coefficients is None:
                    coefficients = cache[key] = _transform(samples, quants[key[0]])
                _encode_block(writer, coefficients, previous[component])
                previous[component] = coefficients[0]
    writer.flush()

    out = bytearray(b'\xFF\xD8')
    out += _segment(0xE0, b'JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00')
    for table_id, quant in enumerate(quants):
        out += _segment(0xDB, bytes([table_id]) + bytes(quant))
    components = b''.join(bytes([i + 1, 0x11, 0 if i == 0 else 1]) for i in range(3))
    out += _segment(0xC0, struct.pack('>BHHB', 8, height, width, 3) + components)
    out += _segment(0xC4, _huffman_table(0, DC_SYMBOLS, 4) + _huffman_table(1, AC_SYMBOLS, 8))
    scan = b''.join(bytes([i + 1, 0x00]) for i in range(3))
    out += _segment(0xDA, bytes([3]) + scan + b'\x00\x3F\x00')
    out += writer.data
    out += b'\xFF\xD9'
    return bytes(out)


def _text_mask(lines):
    '''Pixels set by lines of (text, scale, top), each centred.'''
    mask = set()
    for text, scale, top in lines:
        left = (WIDTH - len(text) * 6 * scale + scale) // 2
        for i, char in enumerate(text):
            for row, pattern in enumerate(FONT.get(char, FONT[' '])):
                for column, bit in enumerate(pattern):
                    if bit == '1':
                        x0 = left + (i * 6 + column) * scale
                        y0 = top + row * scale
                        mask.update((x, y) for x in range(x0, x0 + scale)
                                    for y in range(y0, y0 + scale))
    return mask


def render(number, when=None):
    '''JPEG bytes of capture number `number`, taken at `when` (seconds since the epoch).'''
    moment = time.localtime(when)
    mask = _text_mask([
        (time.strftime('%Y-%m-%d', moment), 4, 40),
        (time.strftime('%H:%M:%S', moment), 5, 96),
        ('#%04d' % (number % 10000), 3, 168),
    ])

    def pixel(x, y):
        if (x, y) in mask:
            return (255, 250, 220)
        shade = y * 96 // HEIGHT
        return (16, 40 + shade, 96 + shade)

    return encode(WIDTH, HEIGHT, pixel)


if __name__ == '__main__':
    import sys
    sys.stdout.buffer.write(render(int(sys.argv[1]) if len(sys.argv) > 1 else 1))
