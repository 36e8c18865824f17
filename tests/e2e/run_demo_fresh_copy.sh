#!/usr/bin/env bash
# scripts/run-demo as a new user meets it: a fresh copy of the source tree
# (no build folders), a DISPLAY that cannot be opened, arguments passed on.
# It must say the display cannot be opened, run headless for exactly the
# frames asked, and name only files it wrote.
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -C "$src" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work" -xf -
out=$(cd "$work" && DISPLAY=:77 WAYLAND_DISPLAY= scripts/run-demo --frames 12 2>&1) || {
  echo "$out"; echo "run-demo failed"; exit 1; }
echo "$out" | tail -8
fail() { echo "FAIL: $1"; exit 1; }
grep -q 'cannot be opened: running headless instead' <<<"$out" || fail "no headless fallback message"
grep -q 'headless for 12 frames' <<<"$out" || fail "frame count not reported as 12"
grep -q 'over 1 title$' <<<"$out" || fail "title count"
for f in first-frame last-frame; do
  line=$(grep "$work/build-demo/demo/$f.png" <<<"$out") || fail "$f not reported"
  [ "$(head -c 8 "$work/build-demo/demo/$f.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "$f is not a PNG: $line"
done
built=$(find "$work/build-demo" -type f -executable \( -name '*test*' -o -name '*bench*' -o -name sv-inspect \))
[ -z "$built" ] || fail "more than the demo was built: $built"
echo PASS
