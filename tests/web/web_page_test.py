"""The web page (built by scripts/build-web) in headless Chromium against the
native demo run headless on Mesa: the first frame in each shadow mode, soft
shadows of a round light once converged, a scripted key run, real key events sent through the DevTools protocol (taken
only from the focused canvas; P's download), the page's buttons, a TIFF
picked in the page's file input, an OBJ picked with its .mtl and PNG
(assimp and stb_image in the page), models and textures linked by ?model=
and ?texture= (with the files a glTF names), an animated glTF linked with
its time and paused, links outside the page refused,
files the page cannot read, dropped copies and folders, and a model whose
exact volumes overflow one immediate-mode batch (also with a round light,
its face ids in three bytes).

Environment: SV_WEB_SITE (the site folder), SV_DEMO (the native
shadow_volume), SV_SCENE_DIR (the shipped scene it reads), SV_CHROMIUM
(default chromium), SV_WRITE_SLIDING_BOX (the writer of the animated glTF). A picture matches when at most 0.5% of its pixels differ
from native by more than 8 levels in some channel."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import page_driver  # noqa: E402

SITE = os.environ.get("SV_WEB_SITE", "")
DEMO = os.environ.get("SV_DEMO", "")
SCENE = os.environ.get("SV_SCENE_DIR", "")
MAX_OFF = 0.005  # share of pixels that may differ by more than 8 levels

browser = None
site = None


def setUpModule():
    global browser, site
    for path in (os.path.join(SITE, "index.html"), DEMO, os.path.join(SCENE, "txt.tif")):
        if not os.path.exists(path):
            raise RuntimeError("missing " + path + " (set SV_WEB_SITE, SV_DEMO, SV_SCENE_DIR)")
    site = page_driver.Site(SITE)
    browser = page_driver.Browser(os.environ.get("SV_CHROMIUM", "chromium"))


def tearDownModule():
    if browser:
        browser.close()
    if site:
        site.close()


class WebPageTest(unittest.TestCase):

    def assertMatchesNative(self, page, native, what):
        width, height, rgb = page
        self.assertEqual((width, height), native[:2], what + ": sizes differ")
        off, worst = page_driver.compare(rgb, native[2])
        # The figures the report quotes.
        print("%s: %d of %d pixels (%.3f%%) off by more than 8 levels; largest difference %d"
              % (what, off, width * height, 100.0 * off / (width * height), worst))
        self.assertLessEqual(off, MAX_OFF * width * height, what)

    def run_page(self, query, frames):
        """Loads the page with `query` and --frames `frames`; the canvas once
        the run has ended (exit code 0)."""
        browser.open(site.url + "?frames=%d%s" % (frames, query))
        self.assertEqual(browser.wait_for("Module.exitCode !== null && [Module.exitCode]"), [0])
        self.assertEqual(browser.evaluate("Module.presentedFrames"), frames)
        return browser.canvas_rgb()

    def pause(self):
        """Stops the page's frames; the number of frames presented."""
        return browser.evaluate("Module.pauseMainLoop(), Module.presentedFrames")

    def run_frames(self, count):
        """Lets `count` or more frames run, then pauses; the frames presented."""
        start = browser.evaluate("Module.resumeMainLoop(), Module.presentedFrames")
        browser.wait_for("Module.presentedFrames >= %d" % (start + count))
        return self.pause()

    def test_first_frame_matches_native_in_each_shadow_mode(self):
        for mode in ("blend", "exact"):
            with self.subTest(mode=mode):
                page = self.run_page("&shadows=" + mode, 1)
                native = page_driver.run_native(DEMO, SCENE, ["--shadows", mode], 1)
                self.assertMatchesNative(page, native, "first frame, %s shadows" % mode)

    def test_soft_exact_shadows_converge_as_native(self):
        # A round light: by frame 33 all 256 sample points are counted on
        # both, the page's through its RGBA reads and a shade texture. The
        # penumbrae show: the point light's picture differs by far more.
        frames = 33
        page = self.run_page("&shadows=exact&light-size=6", frames)
        self.assertEqual([line for line in browser.evaluate("Module.errLines")
                          if "hard shadows" in line], [])
        native = page_driver.run_native(DEMO, SCENE, ["--shadows", "exact", "--light-size", "6"],
                                        frames)
        self.assertMatchesNative(page, native, "soft exact shadows, frame %d" % frames)
        hard = page_driver.run_native(DEMO, SCENE, ["--shadows", "exact"], frames)
        self.assertGreater(page_driver.compare(page[2], hard[2])[0], 4 * MAX_OFF * len(hard[2]) / 3)

    def test_key_script_matches_native(self):
        # The camera moves and turns, then (Tab) the light moves.
        script = ("2:down:LEFT,12:up:LEFT,12:down:DELETE,20:up:DELETE,21:down:TAB,21:up:TAB,"
                  "22:down:HOME,30:up:HOME,30:down:PAGEUP,36:up:PAGEUP")
        page = self.run_page("&keys=" + script, 40)
        native = page_driver.run_native(DEMO, SCENE, ["--keys", script], 40)
        self.assertMatchesNative(page, native, "key script, frame 40")

    def test_real_key_events_move_camera_and_light_as_native(self):
        browser.open(site.url)
        self.pause()
        script = []
        # Left moves the camera in either mode; Tab then Home moves the light.
        for key, code, vk, name, hold in (("ArrowLeft", "ArrowLeft", 37, "LEFT", 8),
                                          ("Tab", "Tab", 9, "TAB", 0),
                                          ("Home", "Home", 36, "HOME", 6)):
            frame = browser.evaluate("Module.presentedFrames")
            browser.key("keyDown", key, code, vk)
            script.append("%d:down:%s" % (frame + 1, name))
            if hold:
                frame = self.run_frames(hold)
            browser.key("keyUp", key, code, vk)
            script.append("%d:up:%s" % (frame + 1, name))
        last = self.run_frames(3)
        page = browser.canvas_rgb()
        native = page_driver.run_native(DEMO, SCENE, ["--keys", ",".join(script)], last)
        self.assertMatchesNative(page, native, "real keys (%s), frame %d" % (",".join(script), last))
        # The motion did show: the picture is not the first frame's.
        first = page_driver.run_native(DEMO, SCENE, [], 1)
        self.assertGreater(page_driver.compare(page[2], first[2])[0], 0.05 * len(first[2]) / 3)
        # The title is the frame rate, as a window's.
        self.assertRegex(browser.evaluate("document.title"), r"^\d+(\.\d+)?$")

    def test_real_mouse_drag_and_wheel_move_the_camera_as_native(self):
        browser.open(site.url)
        frame = self.pause()
        box = browser.evaluate("(() => { const r = document.getElementById('canvas')"
                               ".getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()")
        x, y = box[0] + box[2] / 2, box[1] + box[3] / 2
        # A 100-pixel left-drag to the right in four steps, then three wheel
        # notches away from the user, all before the next frame.
        browser.mouse("mousePressed", x, y, button="left", buttons=1)
        for step in range(1, 5):
            browser.mouse("mouseMoved", x + 25 * step, y, button="left", buttons=1)
        browser.mouse("mouseReleased", x + 100, y, button="left", buttons=0)
        for _ in range(3):
            browser.mouse("mouseWheel", x + 100, y, delta_y=-100)
        last = self.run_frames(3)
        page = browser.canvas_rgb()
        script = "%d:drag:100:0,%d:wheel:3" % (frame + 1, frame + 1)
        native = page_driver.run_native(DEMO, SCENE, ["--keys", script], last)
        self.assertMatchesNative(page, native, "real drag and wheel (%s), frame %d" % (script, last))
        first = page_driver.run_native(DEMO, SCENE, [], 1)
        self.assertGreater(page_driver.compare(page[2], first[2])[0], 0.05 * len(first[2]) / 3)

    def test_buttons_send_the_keys_and_the_rate_line_says_fps(self):
        browser.open(site.url)
        browser.wait_for("Module.presentedFrames >= 12")
        self.assertRegex(browser.evaluate("document.getElementById('rate').textContent"),
                         r"^(\d+\.\d|inf) fps$")
        self.pause()
        # The shadow-mode button once: blend to exact, as S.
        browser.evaluate("document.querySelector('#controls [data-key=KeyS]').click()")
        self.run_frames(12)
        page = browser.canvas_rgb()
        native = page_driver.run_native(DEMO, SCENE, ["--shadows", "exact"], 1)
        self.assertMatchesNative(page, native, "after the shadow-mode button")
        self.assertRegex(browser.evaluate("document.getElementById('rate').textContent"),
                         r" fps - exact shadows$")
        # The screenshot button is P: the page offers the frame as a download.
        browser.evaluate("document.querySelector('#controls [data-key=KeyP]').click()")
        self.run_frames(2)
        browser.wait_for("Module.screenshotsOffered === 1")

    def pick(self, *paths):
        """Hands `paths` to the page's file input at once, as a person picking
        them would, and waits until the page has passed them on to the demo."""
        handed = browser.evaluate("Module.filesHanded")
        document = browser.call("DOM.getDocument", session=True)
        node = browser.call("DOM.querySelector", session=True, nodeId=document["root"]["nodeId"],
                            selector="#pick")
        browser.call("DOM.setFileInputFiles", session=True, files=list(paths),
                     nodeId=node["nodeId"])
        browser.wait_for("Module.filesHanded > %d" % handed)

    def test_picked_obj_with_its_mtl_and_png_matches_native(self):
        with tempfile.TemporaryDirectory() as scratch:
            # The texture: stripes and gradients, as the picked TIFF's.
            width, height = 96, 64
            pixels = stripes(width, height)
            png = os.path.join(scratch, "wall.png")
            with open(png, "wb") as f:
                f.write(page_driver.encode_png_rgb(width, height, pixels))
            with open(os.path.join(scratch, "box.mtl"), "w") as f:
                f.write("newmtl painted\nKd 1 1 1\nmap_Kd wall.png\n")
            # A box open at the bottom, textured; framed to fill the view
            # (--fit applies to a picked model as at start). No floor: seen
            # at a grazing angle, its stripes sample differently on the two
            # rasterizers.
            corners = [(x, y, z) for x in (-1.5, 1.5) for y in (0, 3) for z in (-1.5, 1.5)]
            faces = [(1, 5, 7, 3), (2, 4, 8, 6), (1, 2, 6, 5), (3, 7, 8, 4), (5, 6, 8, 7)]
            lines = ["mtllib box.mtl", "usemtl painted"]
            lines += ["v %g %g %g" % corner for corner in corners]
            lines += ["vt 0 0", "vt 1 0", "vt 1 1", "vt 0 1"]
            lines += ["f " + " ".join("%d/%d" % (v, i + 1) for i, v in enumerate(face))
                      for face in faces]
            model = os.path.join(scratch, "box.obj")
            with open(model, "w") as f:
                f.write("\n".join(lines) + "\n")
            browser.open(site.url + "?fit")
            frame = self.pause()
            seen = browser.evaluate("Module.errLines.length")
            self.pick(model, os.path.join(scratch, "box.mtl"), png)
            self.run_frames(3)
            # Only the model was opened: the .mtl and the PNG are its files,
            # not a model and a texture of their own.
            lines = browser.evaluate("Module.errLines.slice(%d)" % seen)
            self.assertFalse([line for line in lines if "box.mtl" in line], lines)
            page = browser.canvas_rgb()
            self.assertEqual(browser.evaluate("Module.exitCode"), None)
            native = page_driver.run_native(DEMO, SCENE, ["--model", model, "--fit"], 1)
            self.assertMatchesNative(page, native, "picked OBJ, MTL and PNG after frame %d" % frame)
            retextured = page_driver.run_native(
                DEMO, SCENE, ["--model", model, "--fit", "--texture", "txt.tif"], 1)
            self.assertGreater(page_driver.compare(page[2], retextured[2])[0],
                               0.02 * len(retextured[2]) / 3, "the PNG is not on the box")
            # The same box without texture coordinates picked next: it takes
            # the texture's corner texel, as when opened first, not the
            # coordinate the textured box's last vertex left.
            bare = os.path.join(scratch, "bare.obj")
            with open(bare, "w") as f:
                f.write("\n".join(["v %g %g %g" % corner for corner in corners]
                                  + ["f %d %d %d %d" % face for face in faces]) + "\n")
            self.pick(bare)
            self.run_frames(3)
            native = page_driver.run_native(DEMO, SCENE, ["--model", bare, "--fit"], 1)
            self.assertMatchesNative(browser.canvas_rgb(), native,
                                     "picked OBJ without texture coordinates, after the textured one")

    def test_picked_tiff_replaces_the_texture(self):
        with tempfile.TemporaryDirectory() as scratch:
            # Stripes and a gradient, written by libtiff's ppm2tiff with LZW.
            width, height = 96, 64
            pixels = stripes(width, height)
            ppm = os.path.join(scratch, "stripes.ppm")
            with open(ppm, "wb") as f:
                f.write(b"P6 %d %d 255\n" % (width, height) + pixels)
            tiff = os.path.join(scratch, "stripes.tif")
            subprocess.run(["ppm2tiff", "-c", "lzw", ppm, tiff], check=True)

            browser.open(site.url)
            frame = self.pause()
            self.pick(tiff)
            self.run_frames(3)
            page = browser.canvas_rgb()
            self.assertEqual(browser.evaluate("Module.exitCode"), None)
            native = page_driver.run_native(DEMO, SCENE, ["--texture", tiff], 1)
            self.assertMatchesNative(page, native, "picked TIFF after frame %d" % frame)
            shipped = page_driver.run_native(DEMO, SCENE, [], 1)
            self.assertGreater(page_driver.compare(page[2], shipped[2])[0],
                               0.05 * len(shipped[2]) / 3, "the texture did not change")

    def test_unreadable_files_are_named_and_the_demo_runs_on(self):
        with tempfile.TemporaryDirectory() as scratch:
            # A PNG signature and then no PNG; an OBJ (read through the
            # page's assimp) with nothing to draw.
            png = os.path.join(scratch, "photo.png")
            with open(png, "wb") as f:
                f.write(b"\x89PNG\r\n\x1a\nthis is not the rest of a PNG")
            model = os.path.join(scratch, "scene.obj")
            with open(model, "w") as f:
                f.write("this is not a model\n")
            browser.open(site.url)
            self.pause()
            before = browser.canvas_rgb()
            for path, words in ((png, "photo.png: .*a PNG file that stb_image cannot read"),
                                (model, "scene.obj: the file holds no triangles")):
                with self.subTest(file=os.path.basename(path)):
                    seen = browser.evaluate("Module.errLines.length")
                    self.pick(path)
                    frame = self.run_frames(1)
                    lines = browser.wait_for("Module.errLines.length > %d && "
                                             "Module.errLines.slice(%d)" % (seen, seen))
                    self.assertTrue(any(re.search(words, line) for line in lines), lines)
                    # The page shows the line, and the demo goes on drawing.
                    self.assertRegex(browser.evaluate("document.getElementById('log').textContent"),
                                     words)
                    self.assertGreater(self.run_frames(5), frame)
                    self.assertEqual(browser.evaluate("Module.exitCode"), None)
            after = browser.canvas_rgb()
            self.assertEqual(page_driver.compare(before[2], after[2])[0], 0,
                             "an unreadable file changed the picture")

    def test_linked_model_and_texture_match_native(self):
        # Files served beside the page, in a folder of the site: a GLB with
        # its PNG inside, a JPEG (libjpeg-turbo's cjpeg) for ?texture=, and
        # a glTF whose buffer and PNG lie in a subfolder of its own.
        width, height = 96, 64
        stripes, checks = bytearray(), bytearray()
        for y in range(height):
            for x in range(width):
                stripes += bytes(((x * 255) // width, 200 if (x // 8) % 2 else 40,
                                  (y * 255) // height))
                checks += bytes((230, 60, 40) if (x // 16 + y // 16) % 2 else (40, 90, 230))
        folder = tempfile.mkdtemp(prefix="linked-", dir=SITE)
        self.addCleanup(shutil.rmtree, folder)
        name = os.path.basename(folder)
        png = page_driver.encode_png_rgb(width, height, stripes)
        with open(os.path.join(folder, "box.glb"), "wb") as f:
            f.write(page_driver.encode_glb(*page_driver.textured_box_gltf("image/png", png)))
        ppm = os.path.join(folder, "checks.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6 %d %d 255\n" % (width, height) + checks)
        jpeg = os.path.join(folder, "checks.jpg")
        subprocess.run(["cjpeg", "-quality", "95", "-sample", "1x1", "-outfile", jpeg, ppm],
                       check=True)
        os.makedirs(os.path.join(folder, "parts", "maps"))
        document, geometry = page_driver.textured_box_gltf(None, None, "box.bin", "maps/checks.png")
        with open(os.path.join(folder, "parts", "box.gltf"), "w") as f:
            f.write(document)
        with open(os.path.join(folder, "parts", "box.bin"), "wb") as f:
            f.write(geometry)
        with open(os.path.join(folder, "parts", "maps", "checks.png"), "wb") as f:
            f.write(page_driver.encode_png_rgb(width, height, checks))

        glb, gltf = os.path.join(folder, "box.glb"), os.path.join(folder, "parts", "box.gltf")
        shipped_texture = os.path.join(SCENE, "txt.tif")
        # (what, query, the native run's options, options of a picture the
        # page's must not be: the file's own texture is the one shown)
        for what, query, native_args, other_args in (
                ("GLB with its PNG", "&model=%s/box.glb" % name, ["--model", glb],
                 ["--model", glb, "--texture", shipped_texture]),
                ("GLB with a linked JPEG", "&model=%s/box.glb&texture=%s/checks.jpg" % (name, name),
                 ["--model", glb, "--texture", jpeg], ["--model", glb]),
                ("glTF with its buffer and PNG", "&model=%s/parts/box.gltf" % name,
                 ["--model", gltf], ["--model", gltf, "--texture", shipped_texture])):
            with self.subTest(what):
                page = self.run_page(query + "&fit", 1)
                native = page_driver.run_native(DEMO, SCENE, native_args + ["--fit"], 1)
                self.assertMatchesNative(page, native, what + ", first frame")
                other = page_driver.run_native(DEMO, SCENE, other_args + ["--fit"], 1)
                self.assertGreater(page_driver.compare(page[2], other[2])[0],
                                   0.02 * len(other[2]) / 3, what + ": not its own texture")

    def test_links_outside_the_page_are_refused_and_the_demo_runs_on(self):
        shipped = page_driver.run_native(DEMO, SCENE, [], 1)
        for link in ("../x.glb", "http://elsewhere/x.glb", "/x.glb"):
            with self.subTest(link):
                page = self.run_page("&model=" + link, 1)
                lines = [line for line in browser.evaluate("Module.errLines")
                         if line.startswith(link + ": not opened")]
                self.assertEqual(len(lines), 1, browser.evaluate("Module.errLines"))
                self.assertIn(lines[0], browser.evaluate("document.getElementById('log').textContent"))
                self.assertMatchesNative(page, shipped, "the shipped scene after refusing " + link)

    def test_linked_animated_gltf_at_a_paused_time_matches_native(self):
        # The animation tests' sliding box (no texture coordinates), written
        # by their own writer, held at 1 s: the options reach the demo from
        # the query, and the pose is the native one in both shadow modes. The
        # 20 frames take a second or more on the page, in which a playing box
        # would slide on by 20 units or more.
        folder = tempfile.mkdtemp(prefix="animated-", dir=SITE)
        self.addCleanup(shutil.rmtree, folder)
        subprocess.run([os.environ["SV_WRITE_SLIDING_BOX"], folder, "slide"], check=True)
        model = os.path.join(folder, "slide.gltf")
        link = "&model=%s/slide.gltf&animation=0&time=1.0&paused" % os.path.basename(folder)
        for mode in ("blend", "exact"):
            with self.subTest(mode=mode):
                page = self.run_page(link + "&shadows=" + mode, 20)
                native = page_driver.run_native(
                    DEMO, SCENE, ["--model", model, "--animation", "0", "--time", "1.0", "--paused",
                                  "--shadows", mode], 20)
                self.assertMatchesNative(page, native, "sliding box at 1 s, %s shadows" % mode)
                start = page_driver.run_native(
                    DEMO, SCENE, ["--model", model, "--paused", "--shadows", mode], 20)
                self.assertGreater(page_driver.compare(page[2], start[2])[0],
                                   0.01 * len(start[2]) / 3, "the box is where it starts")

    def test_keys_reach_the_demo_only_from_the_canvas_and_p_downloads_the_frame(self):
        with tempfile.TemporaryDirectory() as downloads:
            browser.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=downloads)
            browser.open(site.url)
            self.pause()
            first = page_driver.run_native(DEMO, SCENE, [], 1)
            # With the file picker focused, a held Left is the page's, not the demo's.
            browser.evaluate("document.getElementById('pick').focus()")
            browser.key("keyDown", "ArrowLeft", "ArrowLeft", 37)
            self.run_frames(5)
            browser.key("keyUp", "ArrowLeft", "ArrowLeft", 37)
            self.run_frames(2)
            self.assertMatchesNative(browser.canvas_rgb(), first, "keys off the canvas")
            # A click gives the canvas the focus; F12 stays the browser's, P downloads.
            box = browser.evaluate("(() => { const r = document.getElementById('canvas')"
                                   ".getBoundingClientRect(); return [r.x, r.y]; })()")
            browser.mouse("mousePressed", box[0] + 5, box[1] + 5, button="left", buttons=1)
            browser.mouse("mouseReleased", box[0] + 5, box[1] + 5, button="left", buttons=0)
            self.assertEqual(browser.evaluate("document.activeElement.id"), "canvas")
            for key, code, vk in (("F12", "F12", 123), ("p", "KeyP", 80)):
                browser.key("keyDown", key, code, vk)
                browser.key("keyUp", key, code, vk)
                self.run_frames(2)
            browser.wait_for("Module.screenshotsOffered === 1")
            path = os.path.join(downloads, "shadow-volume-0001.png")
            for _ in range(200):  # the browser writes the download on its own time
                if os.path.exists(path):
                    break
                time.sleep(0.1)
            self.assertEqual(sorted(os.listdir(downloads)), ["shadow-volume-0001.png"])
            with open(path, "rb") as f:
                self.assertMatchesNative(page_driver.decode_png_rgb(f.read()), first,
                                         "downloaded screenshot")

    def test_large_model_in_exact_mode_draws_as_native(self):
        # 73,000 triangles that share no edge: the exact volumes' sides send
        # about 1.3 million vertices, past the GL emulation's buffer (16 MB)
        # in one batch, which stops the page's frames.
        folder = tempfile.mkdtemp(prefix="soup-", dir=SITE)
        self.addCleanup(shutil.rmtree, folder)
        model = os.path.join(folder, "soup.3ds")
        write_triangle_soup(model)
        browser.open(site.url + "?shadows=exact")
        self.pause()
        self.pick(model)
        self.run_frames(3)
        self.assertEqual(browser.evaluate("Module.exitCode"), None)
        native = page_driver.run_native(DEMO, SCENE, ["--shadows", "exact", "--model", model], 1)
        self.assertMatchesNative(browser.canvas_rgb(), native, "73,000 faces, exact")
        # A round light: face ids past 65,536 take all three colour bytes, and
        # the first frame's four sample points are the same on both.
        page = self.run_page("&shadows=exact&light-size=6&model=%s/soup.3ds"
                             % os.path.basename(folder), 1)
        native = page_driver.run_native(
            DEMO, SCENE, ["--shadows", "exact", "--light-size", "6", "--model", model], 1)
        self.assertMatchesNative(page, native, "73,000 faces, soft exact, first frame")

    def test_dropped_copies_are_deleted_once_replaced_and_names_and_folders_are_kept_apart(self):
        with tempfile.TemporaryDirectory() as scratch:
            tiff = os.path.join(scratch, "stripes.tif")
            ppm = os.path.join(scratch, "stripes.ppm")
            with open(ppm, "wb") as f:
                f.write(b"P6 8 8 255\n" + bytes(range(192)))
            subprocess.run(["ppm2tiff", "-c", "lzw", ppm, tiff], check=True)
            split = os.path.join(scratch, "two\nlines.tif")
            os.link(tiff, split)
            browser.open(site.url)
            self.pause()
            seen = browser.evaluate("Module.errLines.length")
            self.pick(tiff)
            self.run_frames(2)
            self.assertTrue(browser.evaluate("Module.FS.analyzePath('/picked/1').exists"))
            self.pick(split)
            self.run_frames(2)
            self.assertEqual(browser.evaluate("Module.errLines.slice(%d)" % seen), [])
            self.assertFalse(browser.evaluate("Module.FS.analyzePath('/picked/1').exists"))
            self.assertEqual(browser.evaluate("Module.FS.readdir('/picked/2')"),
                             [".", "..", "two_lines.tif"])
            # A folder dropped with a file: one line names it, the file still goes in.
            folder = os.path.join(scratch, "models")
            os.mkdir(folder)
            box = browser.evaluate("(() => { const r = document.getElementById('drop')"
                                   ".getBoundingClientRect(); return [r.x + 20, r.y + 10]; })()")
            data = {"items": [], "files": [folder, tiff], "dragOperationsMask": 1}
            for kind in ("dragEnter", "dragOver", "drop"):
                browser.call("Input.dispatchDragEvent", session=True, type=kind, x=box[0], y=box[1],
                             data=data)
            browser.wait_for("Module.filesHanded === 3")
            self.run_frames(2)
            self.assertEqual(browser.evaluate("Module.errLines.slice(%d)" % seen),
                             ['"models": a folder; drop the files inside it instead'])
            self.assertEqual(browser.evaluate("Module.FS.readdir('/picked/3')"),
                             [".", "..", "stripes.tif"])
            self.assertFalse(browser.evaluate("Module.FS.analyzePath('/picked/2').exists"))


def stripes(width, height):
    """RGB bytes of a test texture: a red gradient across, green stripes 8
    pixels wide, a blue gradient down."""
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            pixels += bytes(((x * 255) // width, 200 if (x // 8) % 2 else 40, (y * 255) // height))
    return pixels


def write_triangle_soup(path):
    """A 3DS file of a textured floor at z = -20, a square caster above it
    at z = 10, and, hidden under the floor at z = -25, 72,900 small
    triangles that share no edge: each casts an exact volume with open
    sides, about 1.3 million vertices in all, though the picture is that of
    the floor and the caster alone (big triangles, the same on any
    rasteriser)."""
    import struct

    def chunk(ident, body):
        return struct.pack("<HI", ident, 6 + len(body)) + body

    def square(half, z):
        a, b, c, d = (-half, -half, z), (half, -half, z), (half, half, z), (-half, half, z)
        return [(a, b, c), (a, c, d)]

    soup = []
    for i in range(270):
        for j in range(270):
            x, y = -54 + 0.4 * i, -54 + 0.4 * j
            soup.append(((x, y, -25.0), (x + 0.3, y, -25.0), (x, y + 0.3, -25.0)))
    parts = [square(90.0, -20.0), square(10.0, 10.0)]
    parts += [soup[start:start + 20000] for start in range(0, len(soup), 20000)]
    objects = b""
    for number, part in enumerate(parts):
        corners = [corner for t in part for corner in t]
        vertices = b"".join(struct.pack("<3f", *corner) for corner in corners)
        mapping = b"".join(struct.pack("<2f", x / 180 + 0.5, y / 180 + 0.5) for x, y, _ in corners)
        faces = b"".join(struct.pack("<4H", 3 * i, 3 * i + 1, 3 * i + 2, 0) for i in range(len(part)))
        mesh = (chunk(0x4110, struct.pack("<H", len(corners)) + vertices) +
                chunk(0x4140, struct.pack("<H", len(corners)) + mapping) +
                chunk(0x4120, struct.pack("<H", len(part)) + faces))
        objects += chunk(0x4000, b"part%d\0" % number + chunk(0x4100, mesh))
    with open(path, "wb") as f:
        f.write(chunk(0x4D4D, chunk(0x3D3D, objects)))

if __name__ == "__main__":
    unittest.main(verbosity=2)
