"""Drives the web page in headless Chromium for the web tests, with Python's
standard library only: the site served on localhost by http.server, Chromium
(SwiftShader's WebGL2) talked to through the DevTools protocol over a pipe
(--remote-debugging-pipe: we write to its fd 3 and read its fd 4, one JSON
message per NUL), PNG screenshots and captures decoded here, and the native
demo run headless for the pictures the page must match."""

import functools
import http.server
import json
import os
import shutil
import struct
import subprocess
import tempfile
import threading
import time
import zlib

CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--disable-gpu-sandbox", "--remote-debugging-pipe",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--no-first-run", "--disable-quic", "--force-device-scale-factor=1",
    "--window-size=1000,1200", "--disable-renderer-backgrounding",
    "--disable-background-timer-throttling", "--disable-backgrounding-occluded-windows",
]


def decode_png_rgb(data):
    """(width, height, rgb bytes) of an 8-bit RGB or RGBA PNG, alpha dropped."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected PNG layout"
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = width * channels
    out = bytearray()
    previous = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            upper_left = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + ((left + up) >> 1)) & 255
            elif kind == 4:
                p = left + up - upper_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upper_left)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else upper_left)
                line[i] = (line[i] + predictor) & 255
        previous = line
        if channels == 3:
            out += line
        else:
            for x in range(width):
                out += line[4 * x:4 * x + 3]
    return width, height, bytes(out)


def encode_png_rgb(width, height, rgb):
    """An 8-bit RGB PNG of `rgb` (rows top first), for files the tests give
    the page; zlib compresses it."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    stride = width * 3
    raw = b"".join(b"\0" + bytes(rgb[y * stride:(y + 1) * stride]) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def textured_box_gltf(image_mime, image, geometry_uri=None, image_uri=None):
    """A glTF 2.0 box open at the bottom (the web tests' OBJ box), its one
    material's base colour the given image. Returns (json text, binary
    buffer): with no URIs the buffer holds the image too, for a GLB; with
    them the buffer (geometry only) and the image are files of their own."""
    corners = [(x, y, z) for x in (-1.5, 1.5) for y in (0.0, 3.0) for z in (-1.5, 1.5)]
    faces = [(1, 5, 7, 3), (2, 4, 8, 6), (1, 2, 6, 5), (3, 7, 8, 4), (5, 6, 8, 7)]
    uvs = [(0, 0), (1, 0), (1, 1), (0, 1)]
    positions, texcoords, indices = b"", b"", b""
    for face_number, face in enumerate(faces):
        for corner, uv in zip(face, uvs):
            positions += struct.pack("<3f", *corners[corner - 1])
            texcoords += struct.pack("<2f", *uv)
        first = 4 * face_number
        indices += struct.pack("<6H", first, first + 1, first + 2, first, first + 2, first + 3)
    geometry = positions + texcoords + indices
    views = [{"buffer": 0, "byteOffset": 0, "byteLength": len(positions)},
             {"buffer": 0, "byteOffset": len(positions), "byteLength": len(texcoords)},
             {"buffer": 0, "byteOffset": len(positions) + len(texcoords),
              "byteLength": len(indices)}]
    document = {
        "asset": {"version": "2.0"},
        "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [{"mesh": 0}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1},
                                    "indices": 2, "material": 0}]}],
        "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
        "textures": [{"source": 0}],
        "accessors": [
            {"bufferView": 0, "componentType": 5126, "count": 20, "type": "VEC3",
             "min": [-1.5, 0.0, -1.5], "max": [1.5, 3.0, 1.5]},
            {"bufferView": 1, "componentType": 5126, "count": 20, "type": "VEC2"},
            {"bufferView": 2, "componentType": 5123, "count": 30, "type": "SCALAR"}],
        "bufferViews": views,
    }
    if geometry_uri:
        document["buffers"] = [{"uri": geometry_uri, "byteLength": len(geometry)}]
        document["images"] = [{"uri": image_uri}]
        return json.dumps(document), geometry
    views.append({"buffer": 0, "byteOffset": len(geometry), "byteLength": len(image)})
    document["buffers"] = [{"byteLength": len(geometry) + len(image)}]
    document["images"] = [{"bufferView": 3, "mimeType": image_mime}]
    return json.dumps(document), geometry + image


def encode_glb(document, binary):
    """A binary glTF of a JSON text and its buffer, each chunk padded to 4 bytes."""
    text = document.encode()
    text += b" " * (-len(text) % 4)
    binary = binary + b"\0" * (-len(binary) % 4)
    body = (struct.pack("<I4s", len(text), b"JSON") + text
            + struct.pack("<I4s", len(binary), b"BIN\0") + binary)
    return struct.pack("<4sII", b"glTF", 2, 12 + len(body)) + body


def compare(a, b, threshold=8):
    """Pixels of two same-sized RGB images whose largest channel difference
    exceeds `threshold`, and the largest difference seen."""
    assert len(a) == len(b), "sizes differ"
    off, worst = 0, 0
    for i in range(0, len(a), 3):
        d = max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2]))
        worst = max(worst, d)
        if d > threshold:
            off += 1
    return off, worst


def run_native(demo, scene_dir, args, frame):
    """The native demo's picture of `frame` (headless, --frames frame), as RGB."""
    with tempfile.TemporaryDirectory() as scratch:
        capture = os.path.join(scratch, "frame.png")
        result = subprocess.run(
            [demo, "--headless", "--frames", str(frame), "--capture", "%d:%s" % (frame, capture)]
            + list(args), cwd=scene_dir, capture_output=True, text=True, timeout=300)
        assert result.returncode == 0, result.stderr
        with open(capture, "rb") as f:
            return decode_png_rgb(f.read())


class _QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm", ".js": "text/javascript"})

    def log_message(self, *args):
        pass


class Site:
    """The site folder served on 127.0.0.1 at a free port until close()."""

    def __init__(self, folder):
        handler = functools.partial(_QuietHandler, directory=folder)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Browser:
    """One headless Chromium with one page, driven over the DevTools pipe."""

    def __init__(self, chromium="chromium"):
        self.profile = tempfile.mkdtemp(prefix="sv-chromium-")
        to_child_r, to_child_w = os.pipe()
        from_child_r, from_child_w = os.pipe()
        # The child reads commands on fd 3 and writes replies on fd 4.
        def arrange_fds():
            os.dup2(to_child_r, 3)
            os.dup2(from_child_w, 4)
        self.process = subprocess.Popen(
            [chromium] + CHROMIUM_FLAGS + ["--user-data-dir=" + self.profile, "about:blank"],
            # The fds are closed after preexec_fn runs: 3 and 4 are kept.
            preexec_fn=arrange_fds, pass_fds=(3, 4),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_child_r)
        os.close(from_child_w)
        self.writer = os.fdopen(to_child_w, "wb", buffering=0)
        self.reader = os.fdopen(from_child_r, "rb", buffering=0)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"],
                                 flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "DOM"):
            self.call(domain + ".enable", session=True)

    def _read_message(self, deadline):
        while b"\0" not in self.buffer:
            if time.monotonic() > deadline:
                raise TimeoutError("no answer from Chromium")
            chunk = self.reader.read(1 << 16)
            if not chunk:
                raise RuntimeError("Chromium closed the pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, session=False, timeout=120, **params):
        """Sends one command (to the page's session when `session`) and
        returns its result; a protocol error raises."""
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = self.session
        self.writer.write(json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read_message(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})
            self.events.append(reply)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", session=True, expression=expression,
                           returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def wait_for(self, expression, timeout=180):
        """Polls until `expression` is true in the page; returns its value."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.evaluate(expression)
            if value:
                return value
            time.sleep(0.05)
        raise TimeoutError("never true: " + expression + "; stderr: " +
                           str(self.evaluate("Module.errLines")))

    def open(self, url):
        """Loads the page and waits for its first frame."""
        self.call("Page.navigate", session=True, url=url)
        self.wait_for("typeof Module !== 'undefined' && (Module.presentedFrames > 0 || "
                      "Module.exitCode !== null)")

    def canvas_rgb(self):
        """The canvas as shown, (width, height, rgb), from a screenshot of its box."""
        box = self.evaluate("(() => { const r = document.getElementById('canvas')"
                            ".getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()")
        shot = self.call("Page.captureScreenshot", session=True, format="png",
                         clip={"x": box[0], "y": box[1], "width": box[2], "height": box[3],
                               "scale": 1})
        import base64
        return decode_png_rgb(base64.b64decode(shot["data"]))

    def key(self, kind, key, code, virtual_key):
        """A real key event, as the keyboard would send it to the page."""
        self.call("Input.dispatchKeyEvent", session=True, type=kind, key=key, code=code,
                  windowsVirtualKeyCode=virtual_key, nativeVirtualKeyCode=virtual_key)

    def mouse(self, kind, x, y, button="none", buttons=0, delta_y=0):
        """A real mouse event at page position (x, y), as the mouse would send it."""
        params = dict(type=kind, x=x, y=y, button=button, buttons=buttons)
        if kind == "mousePressed" or kind == "mouseReleased":
            params["clickCount"] = 1
        if kind == "mouseWheel":
            params.update(deltaX=0, deltaY=delta_y)
        self.call("Input.dispatchMouseEvent", session=True, **params)

    def close(self):
        try:
            self.call("Browser.close", timeout=10)
        except Exception:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.writer.close()
        self.reader.close()
        shutil.rmtree(self.profile, ignore_errors=True)
