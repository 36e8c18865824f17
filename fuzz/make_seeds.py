#!/usr/bin/env python3
"""Writes the seed inputs the fuzz corpora were grown from, into OUT/<harness>/.

  python3 fuzz/make_seeds.py OUT

model3ds: the 3DS files of Debian's assimp-testmodels, a closed tetrahedron
with a material, texture coordinates and a local matrix, two triangles
meeting along a texture seam, and both placed by a keyframer hierarchy; for
the assimp path, a few of the package's OBJ files and the BoxTextured GLB.
tiff: images written by libtiff's raw2tiff and tiffcp (3 and 4 samples,
uncompressed and LZW, with and without Predictor 2, one strip and several,
16 x 16 tiles), and JPEG files written by cjpeg, for the texture chain.
lzw: the LZW strips of those files, behind the harness's 4-byte header
(width - 1, height - 1, samples - 3, strips - 1).

The committed corpora are these seeds merged (libFuzzer -merge=1) with what
the long runs found; FUZZING.md has the commands.
"""
import glob
import os
import random
import shutil
import struct
import subprocess
import sys

ASSIMP_MODELS = "/usr/share/assimp/models"
ASSIMP_3DS = ASSIMP_MODELS + "/3DS"


def chunk(cid, payload=b"", subs=()):
    body = payload + b"".join(subs)
    return struct.pack("<HI", cid, 6 + len(body)) + body


def name(text):
    return text.encode() + b"\0"


def mesh_file(object_name, vertices, faces, extra_mesh=(), materials=()):
    vl = struct.pack("<H", len(vertices)) + b"".join(struct.pack("<3f", *v) for v in vertices)
    fl = struct.pack("<H", len(faces)) + b"".join(struct.pack("<4H", *f, 0) for f in faces)
    face_subs, mesh_subs = extra_mesh if extra_mesh else ((), ())
    mesh = chunk(0x4100, b"", [chunk(0x4110, vl), chunk(0x4120, fl, face_subs), *mesh_subs])
    return chunk(0x4D4D, b"", [chunk(0x3D3D, b"", [*materials, chunk(0x4000, name(object_name),
                                                                       [mesh])])])


def model_seeds(out):
    for path in glob.glob(ASSIMP_3DS + "/*.3ds") + glob.glob(ASSIMP_3DS + "/*.3DS") + \
            [ASSIMP_3DS + "/testFormatDetection"] + \
            [ASSIMP_MODELS + "/OBJ/" + n for n in ("box.obj", "cube_usemtl.obj", "testmixed.obj",
                                                   "concave_polygon.obj")] + \
            [ASSIMP_MODELS + "/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb"]:
        if os.path.exists(path):
            shutil.copy(path, out)
    material = chunk(0xAFFF, b"", [
        chunk(0xA000, name("Stone")),
        chunk(0xA020, b"", [chunk(0x0011, bytes([255, 128, 1]))]),
        chunk(0xA050, b"", [chunk(0x0030, struct.pack("<h", 25))]),
        chunk(0xA200, b"", [chunk(0x0030, struct.pack("<h", 80)), chunk(0xA300, name("txt.tif"))])])
    face_material = chunk(0x4130, name("Stone") + struct.pack("<5H", 4, 0, 1, 2, 3))
    texcoords = chunk(0x4140, struct.pack("<H", 4) + struct.pack("<8f", 0, 0, 1, 0, 0, 1, 1, 1))
    matrix = chunk(0x4160, struct.pack("<12f", 1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 6, 7))
    tetra = mesh_file("Tetra", [(0, 0, 0), (10, 0, 0), (0, 10, 0), (0, 0, 10)],
                      [(0, 2, 1), (0, 1, 3), (0, 3, 2), (1, 2, 3)],
                      extra_mesh=([face_material], [texcoords, matrix]), materials=[material])
    with open(os.path.join(out, "tetrahedron-material-texcoords.3ds"), "wb") as f:
        f.write(tetra)
    seam = mesh_file("Seam", [(0, 0, 0), (1, 0, 0), (0, 1, 0), (1, 0, 0), (0, 0, 0), (1, 1, 1)],
                     [(0, 1, 2), (3, 4, 5)])
    with open(os.path.join(out, "two-triangles-seam.3ds"), "wb") as f:
        f.write(seam)
    with open(os.path.join(out, "keyframer-hierarchy-pivot-tracks.3ds"), "wb") as f:
        f.write(keyframer_seed(tetra))


def keyframer_seed(tetra):
    """The tetrahedron, a second object and a float colour, placed by a
    keyframer section: a camera node as the root, two object nodes below it
    with pivots and position, rotation and scale tracks (two keys, spline
    values on one)."""
    def track(cid, keys):
        body = struct.pack("<HIII", 0, 0, 0, len(keys))
        for frame, spline, values in keys:
            body += struct.pack("<IH", frame, spline) + struct.pack("<%df" % bin(spline).count("1"),
                                                                     *[0.5] * bin(spline).count("1"))
            body += struct.pack("<%df" % len(values), *values)
        return chunk(cid, body)

    def node(tag, node_id, node_name, parent, *subs):
        return chunk(tag, b"", [chunk(0xB030, struct.pack("<H", node_id)),
                                chunk(0xB010, name(node_name) + struct.pack("<HHH", 0, 0, parent)),
                                *subs])
    camera = node(0xB003, 0, "Cam", 0xFFFF, track(0xB020, [(0, 0, (1, 2, 3))]))
    tetra_node = node(0xB002, 1, "Tetra", 0, chunk(0xB013, struct.pack("<3f", 1, 1, 1)),
                      track(0xB020, [(0, 0, (5, 6, 7)), (10, 1, (0, 0, 0))]),
                      track(0xB021, [(0, 0, (0.5, 0, 0, 1)), (10, 0, (0.2, 1, 0, 0))]),
                      track(0xB022, [(0, 0, (1, 2, 1))]))
    other = mesh_file("Other", [(0, 0, 0), (1, 0, 0), (0, 1, 0)], [(0, 1, 2)],
                      materials=[chunk(0xAFFF, b"", [chunk(0xA000, name("Glow")),
                                                     chunk(0xA020, b"", [chunk(0x0013, struct.pack(
                                                         "<3f", 0.2, 0.4, 0.6))])])])
    other_node = node(0xB002, 2, "Other", 1, track(0xB022, [(0, 0, (-1, 1, 1))]))
    editors = tetra[6:] + other[6:]  # the editor chunks of both files, under one main chunk
    section = chunk(0xB000, b"", [camera, tetra_node, other_node])
    return struct.pack("<HI", 0x4D4D, 6 + len(editors) + len(section)) + editors + section


def pixels(width, height, samples, kind, rng):
    if kind == "noise":
        return bytes(rng.randrange(256) for _ in range(width * height * samples))
    return bytes((x * 16 + y * 8 + k * 40) & 0xFF
                 for y in range(height) for x in range(width) for k in range(samples))


def tiff_seeds(out, scratch):
    rng = random.Random(7)
    for width, height, samples, kind in [(16, 8, 3, "grad"), (16, 8, 4, "grad"), (7, 5, 4, "noise"),
                                         (33, 9, 3, "noise"), (5, 3, 3, "grad"),
                                         (64, 64, 3, "grad"), (48, 32, 3, "noise")]:
        base = "img_%dx%dx%d_%s" % (width, height, samples, kind)
        raw = os.path.join(scratch, base + ".raw")
        with open(raw, "wb") as f:
            f.write(pixels(width, height, samples, kind, rng))
        for label, compression, rows in [("none", "none", height), ("lzw", "lzw", height),
                                         ("lzw-pred", "lzw:2", height),
                                         ("lzw-pred-multistrip", "lzw:2", 2),
                                         ("none-multistrip", "none", 2)]:
            subprocess.run(["raw2tiff", "-w", str(width), "-l", str(height), "-b", str(samples),
                            "-c", compression, "-r", str(rows), raw,
                            os.path.join(out, "%s-%s.tif" % (base, label))],
                           check=True, stderr=subprocess.DEVNULL)
    subprocess.run(["tiffcp", "-c", "lzw:2", "-r", "3", os.path.join(out, "img_16x8x3_grad-none.tif"),
                    os.path.join(out, "tiffcp-16x8x3-lzw-pred-r3.tif")], check=True,
                   stderr=subprocess.DEVNULL)
    # For the texture chain behind the own reader: 16 x 16 tiles (libtiff's
    # RGBA reading), and JPEG files (libjpeg-turbo's cjpeg).
    grad = os.path.join(out, "img_33x9x3_noise-none.tif")
    subprocess.run(["tiffcp", "-c", "none", "-t", "-w", "16", "-l", "16", grad,
                    os.path.join(out, "tiffcp-33x9x3-tiled-16.tif")], check=True,
                   stderr=subprocess.DEVNULL)
    ppm = os.path.join(scratch, "img_16x8.ppm")
    with open(ppm, "wb") as f:
        f.write(b"P6\n16 8\n255\n" + pixels(16, 8, 3, "grad", rng))
    for label, options in [("baseline", []), ("progressive", ["-progressive"]),
                           ("grayscale", ["-grayscale"])]:
        subprocess.run(["cjpeg", *options, "-outfile", os.path.join(out, "cjpeg-16x8-%s.jpg" % label),
                        ppm], check=True)


def lzw_seeds(tiff_dir, out):
    for path in sorted(glob.glob(os.path.join(tiff_dir, "*lzw*.tif"))):
        data = open(path, "rb").read()
        ifd = struct.unpack("<I", data[4:8])[0]
        count = struct.unpack("<H", data[ifd:ifd + 2])[0]
        tags = {}
        for i in range(count):
            tag, kind, n, value = struct.unpack("<HHII", data[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
            tags[tag] = (kind, n, value)

        def array(entry):
            kind, n, value = entry
            size = 2 if kind == 3 else 4
            if n * size <= 4:
                return [(value >> (16 * i)) & 0xFFFF for i in range(n)] if size == 2 else [value]
            fmt = "<H" if size == 2 else "<I"
            return [struct.unpack(fmt, data[value + size * i:value + size * (i + 1)])[0]
                    for i in range(n)]

        width, height, samples = tags[256][2], tags[257][2], tags[277][2]
        offsets, lengths = array(tags[273]), array(tags[279])
        if width > 256 or height > 256:
            continue
        # The first strip alone, as a one-strip image of the full size.
        strip = data[offsets[0]:offsets[0] + lengths[0]]
        prefix = "" if len(offsets) == 1 else "first-strip-"
        target = os.path.join(out, prefix + os.path.basename(path).replace(".tif", ".lzw"))
        with open(target, "wb") as f:
            f.write(bytes([width - 1, height - 1, samples - 3, 0]) + strip)


def main():
    out = sys.argv[1]
    dirs = {h: os.path.join(out, h) for h in ("model3ds", "tiff", "lzw")}
    for d in dirs.values():
        os.makedirs(d, exist_ok=True)
    scratch = os.path.join(out, "raw")
    os.makedirs(scratch, exist_ok=True)
    model_seeds(dirs["model3ds"])
    tiff_seeds(dirs["tiff"], scratch)
    lzw_seeds(dirs["tiff"], dirs["lzw"])
    shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
