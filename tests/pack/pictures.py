"""Picture files for the stub's picture tests, made byte by byte: JPEGs whose every block is
flat (one Huffman code of one bit for DC and for end-of-block), bitmaps and icons, each as
sound or as lying as a case needs."""
import struct


def _segment(marker, body):
    return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body


def jpeg(width, height, components=3, precision=8, progressive=False):
    """A baseline (or progressive) JPEG of flat grey blocks."""
    ids = range(1, components + 1)
    out = b"\xff\xd8"
    out += _segment(0xDB, b"\x00" + b"\x01" * 64)
    sof = struct.pack(">BHHB", precision, height, width, components)
    sof += b"".join(bytes([i, 0x11, 0]) for i in ids)
    out += _segment(0xC2 if progressive else 0xC0, sof)
    one_code = bytes([1] + [0] * 15) + b"\x00"  # one code "0" for symbol 0
    out += _segment(0xC4, b"\x00" + one_code + b"\x10" + one_code)
    out += _segment(0xDA, bytes([components]) + b"".join(bytes([i, 0]) for i in ids) + b"\x00\x3f\x00")
    blocks = -(-width // 8) * -(-height // 8) * components
    bits = 2 * blocks
    data = bytearray(-(-bits // 8))
    if bits % 8:
        data[-1] = (1 << (8 - bits % 8)) - 1  # padded with 1 bits
    return out + bytes(data) + b"\xff\xd9"


def bitmap(width, height, bits=24, pixel_bytes=None, offset=None):
    """A BI_RGB bitmap; `pixel_bytes` (default: all its rows) and `offset` may lie."""
    stride = (width * bits + 31) // 32 * 4
    palette = b"\x00\x00\x00\x00" * (1 << bits) if bits <= 8 else b""
    pixels = b"\x80" * (stride * abs(height) if pixel_bytes is None else pixel_bytes)
    at = 14 + 40 + len(palette) if offset is None else offset
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, 0, 2835, 2835, 0, 0)
    head = b"BM" + struct.pack("<IHHI", 14 + len(info) + len(palette) + len(pixels), 0, 0, at)
    return head + info + palette + pixels


def icon(size=16, claimed=None, offset=None):
    """A 32-bit icon of one image; `claimed` (its byte count) and `offset` may lie."""
    rows = size * size * 4 + (size + 31) // 32 * 4 * size
    image = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0) + b"\x00" * rows
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32,
                        len(image) if claimed is None else claimed, 22 if offset is None else offset)
    return struct.pack("<HHH", 0, 1, 1) + entry + image


def icon_png(width, height):
    """An icon of one PNG image that declares `width` x `height` pixels (and holds none)."""
    ihdr = struct.pack(">II", width, height) + bytes([8, 6, 0, 0, 0])
    image = b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + ihdr + b"\x00" * 4
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(image), 22)
    return struct.pack("<HHH", 0, 1, 1) + entry + image
