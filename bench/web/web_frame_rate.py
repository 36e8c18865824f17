"""The web page's frame rate in headless Chromium (SwiftShader's WebGL2) and
where the page's main thread spends it, for BENCHMARKS.md. Not a test.

Usage: python3 bench/web/web_frame_rate.py SITE_DIR [QUERY ...]
Each QUERY (default "" and "shadows=exact") is loaded at 800 x 600; after 60
frames of warm-up the frames presented in 10 seconds are counted while the
renderer's main thread is sampled by the DevTools profiler. The rest of each
frame is the GPU process (SwiftShader rasterizing) and the compositor."""

import collections
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/web"))
import page_driver  # noqa: E402


def measure(browser, url, seconds=10.0):
    browser.open(url)
    browser.wait_for("Module.presentedFrames >= 60")
    browser.call("Profiler.enable", session=True)
    browser.call("Profiler.setSamplingInterval", session=True, interval=500)
    start = browser.evaluate("[Module.presentedFrames, performance.now()]")
    browser.call("Profiler.start", session=True)
    time.sleep(seconds)
    profile = browser.call("Profiler.stop", session=True)["profile"]
    end = browser.evaluate("[Module.presentedFrames, performance.now()]")
    frames = end[0] - start[0]
    elapsed_ms = end[1] - start[1]
    # Self time per function, from the samples.
    by_id = {node["id"]: node for node in profile["nodes"]}
    self_us = collections.Counter()
    for sample, delta in zip(profile["samples"], profile["timeDeltas"]):
        frame = by_id[sample]["callFrame"]
        name = frame["functionName"] or "(anonymous)"
        self_us[name] += delta
    busy = sum(v for k, v in self_us.items() if k not in ("(idle)", "(program)"))
    return frames, elapsed_ms, busy / 1000.0, self_us


def main():
    site_dir = sys.argv[1]
    queries = sys.argv[2:] or ["", "shadows=exact"]
    site = page_driver.Site(site_dir)
    browser = page_driver.Browser(os.environ.get("SV_CHROMIUM", "chromium"))
    try:
        for query in queries:
            frames, elapsed_ms, busy_ms, self_us = measure(browser, site.url + "?" + query)
            print("page ?%s: %d frames in %.0f ms = %.1f fps; renderer main thread busy "
                  "%.0f ms (%.1f ms a frame)" % (query, frames, elapsed_ms,
                                                 1000.0 * frames / elapsed_ms, busy_ms,
                                                 busy_ms / max(frames, 1)))
            for name, us in self_us.most_common(12):
                print("  %-40s %7.1f ms  %.2f ms/frame" % (name, us / 1000.0,
                                                           us / 1000.0 / max(frames, 1)))
    finally:
        browser.close()
        site.close()


if __name__ == "__main__":
    main()
