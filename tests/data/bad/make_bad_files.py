#!/usr/bin/env python3
"""Writes the malformed model and texture files of tests/data/bad/.

Each file is named for its fault; outcomes.tsv (kept by hand) says what
sv-inspect and the demo do with it. The files are committed; run this only
to change them:  python3 tests/data/bad/make_bad_files.py tests/data/bad
The output is the same on every run (no randomness, no timestamps).
"""
import os
import struct
import sys


# ---------------------------------------------------------------- 3DS files

def chunk(cid, payload=b"", subs=()):
    body = payload + b"".join(subs)
    return struct.pack("<HI", cid, 6 + len(body)) + body


def header(cid, length):
    return struct.pack("<HI", cid, length)


def name(text):
    return text.encode() + b"\0"


def vertex_list(vertices):
    return chunk(0x4110, struct.pack("<H", len(vertices)) +
                 b"".join(struct.pack("<3f", *v) for v in vertices))


def face_list(faces, subs=()):
    return chunk(0x4120, struct.pack("<H", len(faces)) +
                 b"".join(struct.pack("<4H", *f, 0) for f in faces), subs)


TRIANGLE = [(0.0, 0.0, 0.0), (1.0, 0.0, 0.0), (0.0, 1.0, 0.0)]


def model(*editor_chunks):
    return chunk(0x4D4D, b"", [chunk(0x3D3D, b"", editor_chunks)])


def mesh_object(object_name, *mesh_chunks):
    return chunk(0x4000, name(object_name), [chunk(0x4100, b"", mesh_chunks)])


def good_triangle():
    return mesh_object("Tri", vertex_list(TRIANGLE), face_list([(0, 1, 2)]))


def model_files():
    files = {}
    files["model-empty-file.3ds"] = b""
    files["model-one-byte.3ds"] = b"\x4d"
    files["model-not-3ds-magic.3ds"] = b"PK\x03\x04" + b"\0" * 20
    # The main header cut off after its ID and half its length.
    files["model-truncated-header.3ds"] = b"\x4d\x4d\x10\x00"
    # A good triangle, then a chunk header cut off after 3 bytes.
    files["model-truncated-chunk-header.3ds"] = model(good_triangle()) + b"\x00\xb0\x20"
    # After the object, a keyframer chunk of length 0: the walk must not spin
    # on it, and the face list after it is never reached.
    tri = mesh_object("Tri", vertex_list(TRIANGLE))
    files["model-chunk-length-0.3ds"] = (model(tri) + header(0xB000, 0) +
                                          face_list([(0, 1, 2)]))
    # Lengths 1 to 5 cannot hold their own header (a skip would go back).
    files["model-chunk-length-3.3ds"] = model(tri) + header(0xB000, 3) + face_list([(0, 1, 2)])
    # A skipped chunk that claims 2 GiB.
    files["model-length-beyond-file.3ds"] = (model(good_triangle()) +
                                              header(0xB000, 0x7FFFFFFF) + b"\0" * 10)
    # The largest length there is, on an entered chunk.
    files["model-length-ffffffff.3ds"] = header(0x4D4D, 0xFFFFFFFF) + header(0x3D3D, 0xFFFFFFFF) + \
        good_triangle()
    # An object name that runs to the end of the file.
    files["model-name-without-terminator.3ds"] = (header(0x4D4D, 100) + header(0x3D3D, 94) +
                                                   header(0x4000, 88) + b"A" * 82)
    # A 300-byte object name: kept as its first 63 bytes.
    files["model-name-300-bytes.3ds"] = model(mesh_object("N" * 300, vertex_list(TRIANGLE),
                                                          face_list([(0, 1, 2)])))
    # Counts of 65,535 with no data behind them.
    files["model-vertex-count-65535-no-data.3ds"] = (
        header(0x4D4D, 36) + header(0x3D3D, 30) + header(0x4000, 24) + name("Big") +
        header(0x4100, 14) + header(0x4110, 8) + struct.pack("<H", 0xFFFF))
    files["model-face-count-65535-no-data.3ds"] = (
        model(mesh_object("Tri", vertex_list(TRIANGLE))) + header(0x4120, 8) +
        struct.pack("<H", 0xFFFF))
    files["model-texcoord-count-65535-no-data.3ds"] = (
        model(good_triangle()) + header(0x4140, 8) + struct.pack("<H", 0xFFFF))
    # A count with the top bit set (a signed reader would see -32768).
    files["model-vertex-count-32768-short.3ds"] = (
        model(mesh_object("Tri", vertex_list(TRIANGLE))) + header(0x4110, 8 + 12) +
        struct.pack("<H", 0x8000) + struct.pack("<3f", 1, 2, 3))
    # A face naming vertex 7 of a 3-vertex mesh, and one naming 65535.
    files["model-face-index-out-of-range.3ds"] = model(
        mesh_object("Tri", vertex_list(TRIANGLE), face_list([(0, 1, 2), (0, 7, 2)])))
    files["model-face-index-65535.3ds"] = model(
        mesh_object("Tri", vertex_list(TRIANGLE), face_list([(65535, 1, 2)])))
    # Faces before any vertex list: no object to hold them.
    files["model-faces-before-vertices.3ds"] = model(
        chunk(0x4000, name("Tri"), [chunk(0x4100, b"", [face_list([(0, 1, 2)]),
                                                          vertex_list(TRIANGLE)])]))
    # Texture coordinates for 10 vertices on a 3-vertex mesh.
    files["model-texcoords-more-than-vertices.3ds"] = model(
        mesh_object("Tri", vertex_list(TRIANGLE), face_list([(0, 1, 2)]),
                    chunk(0x4140, struct.pack("<H", 10) + struct.pack("<20f", *range(20)))))
    # A face-material chunk whose fixed 64-byte block runs past the file.
    files["model-face-material-past-end.3ds"] = (
        model(good_triangle()) + header(0x4130, 6 + 64) + name("Mat"))
    # A local matrix cut off half way.
    files["model-matrix-cut-off.3ds"] = model(good_triangle()) + header(0x4160, 54) + \
        struct.pack("<6f", 1, 0, 0, 0, 1, 0)
    # Material properties before any material exists.
    files["model-colour-before-material.3ds"] = model(
        chunk(0xAFFF, b"", [chunk(0xA020, b"", [chunk(0x0011, bytes([255, 0, 0]))]),
                            chunk(0xA000, name("Late"))]), good_triangle())
    # 1,025 vertex lists: one more than the object table holds.
    many = b"".join(chunk(0x4110, struct.pack("<H", 0)) for _ in range(1025))
    files["model-1025-objects.3ds"] = model(chunk(0x4000, name("Many"), [chunk(0x4100, b"", [many])]))
    # 257 materials: one more than the material table holds.
    mats = b"".join(chunk(0xAFFF, b"", [chunk(0xA000, name("M%d" % i))]) for i in range(257))
    files["model-257-materials.3ds"] = model(mats, good_triangle())
    # A map file name running to the end of the file.
    files["model-map-name-without-terminator.3ds"] = (
        model(chunk(0xAFFF, b"", [chunk(0xA000, name("Mat"))]), good_triangle()) +
        header(0xAFFF, 60) + header(0xA200, 54) + header(0xA300, 48) + b"m" * 42)
    # Keyframer sections that cannot be used: a position track that says
    # 1,000 keys and holds one; two nodes each the other's parent.
    def node(node_id, parent, *subs):
        return chunk(0xB002, b"", [chunk(0xB030, struct.pack("<H", node_id)),
                                   chunk(0xB010, name("Tri") + struct.pack("<3H", 0, 0, parent)),
                                   *subs])

    def with_keyframer(*nodes):
        return chunk(0x4D4D, b"", [chunk(0x3D3D, b"", [good_triangle()]),
                                   chunk(0xB000, b"", nodes)])
    track = chunk(0xB020, struct.pack("<HIII", 0, 0, 0, 1000) + struct.pack("<IH3f", 0, 0, 1, 2, 3))
    files["model-keyframer-keys-past-track.3ds"] = with_keyframer(node(0, 0xFFFF, track))
    files["model-keyframer-parent-ring.3ds"] = with_keyframer(node(0, 1), node(1, 0))
    return files


# ---------------------------------------------------------------- TIFF files

def lzw_encode(data, end_code=True, clear_first=True):
    """TIFF LZW: codes MSB first, width growing one code early, clear at 4093."""
    out_bits = []

    def put(code, width):
        out_bits.append((code, width))

    width = 9
    table = {bytes([i]): i for i in range(256)}
    next_code = 258
    if clear_first:
        put(256, width)
    w = b""
    for byte in data:
        wc = w + bytes([byte])
        if wc in table:
            w = wc
            continue
        put(table[w], width)
        table[wc] = next_code
        next_code += 1
        if next_code in (511, 1023, 2047):
            width += 1
        if next_code == 4093:
            put(256, width)
            table = {bytes([i]): i for i in range(256)}
            next_code = 258
            width = 9
        w = bytes([byte])
    if w:
        put(table[w], width)
        next_code += 1
        if next_code in (511, 1023, 2047):
            width += 1
    if end_code:
        put(257, width)
    return raw_codes(out_bits)


def raw_codes(codes_and_widths):
    """Packs explicit (code, width) pairs MSB first, for hand-made code streams."""
    acc = 0
    nbits = 0
    out = bytearray()
    for code, bits in codes_and_widths:
        acc = (acc << bits) | code
        nbits += bits
        while nbits >= 8:
            nbits -= 8
            out.append((acc >> nbits) & 0xFF)
    if nbits:
        out.append((acc << (8 - nbits)) & 0xFF)
    return bytes(out)


def tiff(entries, data=b"", ifd_at=None, mark=b"II", count=None):
    """A one-directory TIFF: header, `data` at offset 8, then the directory.
    `entries` are (tag, type, count, value) with value an int; entry order as given."""
    ifd_pos = 8 + len(data) if ifd_at is None else ifd_at
    out = mark + struct.pack("<HI", 42, ifd_pos) + data
    n = len(entries) if count is None else count
    ifd = struct.pack("<H", n) + b"".join(struct.pack("<HHII", *e) for e in entries) + b"\0" * 4
    return out + ifd


def image_entries(width, height, samples, compression, offset, length, strips=1, predictor=None,
                  offsets_type=4, counts_type=4):
    e = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 8), (259, 3, 1, compression),
         (262, 3, 1, 2), (273, offsets_type, strips, offset), (277, 3, 1, samples),
         (278, 4, 1, height), (279, counts_type, strips, length)]
    if predictor is not None:
        e.append((317, 3, 1, predictor))
    return e


def gradient(width, height, samples):
    return bytes((x * 16 + y * 8 + k * 40) & 0xFF
                 for y in range(height) for x in range(width) for k in range(samples))


def texture_files():
    files = {}
    rgb = gradient(4, 2, 3)
    files["texture-empty-file.tif"] = b""
    files["texture-big-endian.tif"] = b"MM\x00\x2a\x00\x00\x00\x08" + b"\0" * 16
    files["texture-truncated-header.tif"] = b"II*\x00\x08\x00"
    files["texture-ifd-beyond-file.tif"] = b"II*\x00" + struct.pack("<I", 0x7FFFFFF0) + b"\0" * 8
    # The directory says 20 entries but the file holds 2.
    files["texture-ifd-entries-cut-off.tif"] = (
        b"II*\x00\x08\x00\x00\x00" + struct.pack("<H", 20) +
        struct.pack("<HHII", 256, 4, 1, 4) + struct.pack("<HHII", 257, 4, 1, 2))
    # An entry count with its top bit set reads no entries.
    files["texture-ifd-count-negative.tif"] = tiff(
        image_entries(4, 2, 3, 1, 8, len(rgb)), rgb, count=0x8001)
    files["texture-width-zero.tif"] = tiff(image_entries(0, 2, 3, 1, 8, len(rgb)), rgb)
    files["texture-size-over-limit.tif"] = tiff(image_entries(65535, 65535, 4, 1, 8, len(rgb)), rgb)
    files["texture-width-negative.tif"] = tiff(image_entries(0xFFFFFFFF, 2, 3, 1, 8, len(rgb)), rgb)
    files["texture-two-samples.tif"] = tiff(image_entries(4, 2, 2, 1, 8, 16), rgb[:16])
    files["texture-compression-jpeg.tif"] = tiff(image_entries(4, 2, 3, 7, 8, len(rgb)), rgb)
    # Uncompressed: the strip lies beyond the file; the strip is longer than the image.
    files["texture-strip-beyond-file.tif"] = tiff(image_entries(4, 2, 3, 1, 0x10000000, len(rgb)),
                                                  rgb)
    files["texture-strip-longer-than-image.tif"] = tiff(
        image_entries(2, 1, 3, 1, 8, len(rgb) + 200), rgb + b"\xAA" * 200)
    files["texture-strip-length-ffffffff.tif"] = tiff(
        image_entries(4, 2, 3, 1, 8, 0xFFFFFFFF), rgb)
    # LZW with no strips at all.
    lzw = lzw_encode(rgb)
    files["texture-lzw-zero-strips.tif"] = tiff(image_entries(4, 2, 3, 5, 8, len(lzw), strips=0), lzw)
    files["texture-lzw-strip-beyond-file.tif"] = tiff(
        image_entries(4, 2, 3, 5, 0x7FFFFF00, len(lzw)), lzw)
    # The directory first (8 + 114 bytes), then a strip cut off half way.
    files["texture-lzw-strip-cut-off.tif"] = tiff(
        image_entries(4, 2, 3, 5, 122, len(lzw) + 50)) + lzw[: len(lzw) // 2]
    # Many strips whose arrays lie beyond the file; a strip count of 2^31 - 1.
    files["texture-lzw-strip-arrays-beyond-file.tif"] = tiff(
        image_entries(4, 2, 3, 5, 0x40000000, 0x40000010, strips=4), lzw)
    files["texture-lzw-strip-count-huge.tif"] = tiff(
        image_entries(4, 2, 3, 5, 8, 8, strips=0x7FFFFFFF), lzw)
    # LZW codes: no end code; no clear code first; a code far beyond the table;
    # two clear codes in a row; clear then a code of 258 or more.
    files["texture-lzw-without-end-code.tif"] = tiff(
        image_entries(4, 2, 3, 5, 8, len(lzw_encode(rgb, end_code=False))),
        lzw_encode(rgb, end_code=False))
    no_clear = lzw_encode(rgb, clear_first=False)
    files["texture-lzw-without-clear-code.tif"] = tiff(image_entries(4, 2, 3, 5, 8, len(no_clear)),
                                                       no_clear)
    beyond = raw_codes([(256, 9), (65, 9), (400, 9), (257, 9)])
    files["texture-lzw-code-beyond-table.tif"] = tiff(image_entries(4, 2, 3, 5, 8, len(beyond)),
                                                      beyond)
    clears = raw_codes([(256, 9), (256, 9), (300, 9), (65, 9), (257, 9)])
    files["texture-lzw-clear-then-unset-code.tif"] = tiff(
        image_entries(4, 2, 3, 5, 8, len(clears)), clears)
    # A strip that decodes to far more bytes than the 2 x 1 image holds.
    long_strip = lzw_encode(bytes(range(256)) * 8)
    files["texture-lzw-output-past-buffer.tif"] = tiff(
        image_entries(2, 1, 3, 5, 8, len(long_strip)), long_strip)
    # 4,000 codes after one clear: the table fills without a clear code.
    full = [(256, 9)]
    width = 9
    next_code = 258
    for i in range(4000):
        full.append((65 + i % 26, width))
        if next_code < 4095:
            next_code += 1
            if next_code in (511, 1023, 2047):
                width += 1
    full.append((257, width))
    full_bytes = raw_codes(full)
    files["texture-lzw-table-full-without-clear.tif"] = tiff(
        image_entries(64, 64, 3, 5, 8, len(full_bytes)), full_bytes)
    # Four samples, odd width, LZW with the predictor.
    rgba = gradient(5, 3, 4)
    rgba_lzw = lzw_encode(rgba)
    files["texture-4-samples-odd-width.tif"] = tiff(
        image_entries(5, 3, 4, 5, 8, len(rgba_lzw), predictor=2), rgba_lzw)
    # Predictor 2 on an image that no strip fills.
    files["texture-predictor-no-data.tif"] = tiff(
        image_entries(3, 3, 3, 1, 8, 0, predictor=2), b"")
    return files


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    files = dict(model_files())
    files.update(texture_files())
    for file_name, data in sorted(files.items()):
        with open(os.path.join(out_dir, file_name), "wb") as f:
            f.write(data)
    print("wrote %d files to %s" % (len(files), out_dir))


if __name__ == "__main__":
    main()
