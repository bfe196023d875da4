"""Reads a PNG file the way a viewer would, with Python's zlib: checks the signature and every
chunk's CRC, inflates the image data (which checks its Adler-32) and undoes filter 0. Prints the
width, height, bit depth and colour type, then the pixel bytes in hexadecimal, or the first fault."""
import struct
import sys
import zlib

data = open(sys.argv[1], "rb").read()
if data[:8] != b"\x89PNG\r\n\x1a\n":
    sys.exit("bad signature")
at, chunks = 8, []
while at < len(data):
    (length,) = struct.unpack(">I", data[at:at + 4])
    kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + length]
    (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
    if zlib.crc32(kind + body) != crc:
        sys.exit("bad CRC in " + kind.decode())
    chunks.append((kind, body))
    at += 12 + length
kinds = [k for k, _ in chunks]
if kinds[0] != b"IHDR" or kinds[-1] != b"IEND" or b"IDAT" not in kinds:
    sys.exit("bad chunk order: %r" % kinds)
width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
row = 1 + 3 * width
if len(raw) != row * height or any(raw[y * row] != 0 for y in range(height)):
    sys.exit("bad image data")
pixels = b"".join(raw[y * row + 1:(y + 1) * row] for y in range(height))
print(width, height, depth, colour, interlace)
print(pixels.hex())
