#!/usr/bin/python3
"""Remakes docs/main-window.png and docs/about-window.png from the real program.

Usage: docs/make-screenshots.py <executable> [xdnd_drop.py]

Starts its own Xvfb, drops a few generated samples onto the file table, photographs the main
window, opens About from the Help menu and photographs the About window. Needs xvfb, xdotool,
imagemagick and python3-xlib (for xdnd_drop.py, by default tests/tools/xdnd_drop.py).
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import wave

DOCS = os.path.dirname(os.path.abspath(__file__))
DISPLAY = ":%d" % (90 + os.getpid() % 9)
SAMPLES = ["Kick 01.wav", "Snare Tight.wav", "Open Hat (long).wav", "Bass C2.wav"]


def write_wav(path, seconds=0.3, rate=48000):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(i / 20.0)))
                                 for i in range(int(seconds * rate))))


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout.strip()


def find_window(pid, name, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name", name],
                               capture_output=True, text=True).stdout.split()
        if found:
            return found[0]
        time.sleep(0.1)
    sys.exit("no window named %s" % name)


def geometry(window):
    values = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def main():
    executable = sys.argv[1]
    xdnd_drop = sys.argv[2] if len(sys.argv) > 2 else os.path.join(DOCS, "..", "tests", "tools", "xdnd_drop.py")
    work = tempfile.mkdtemp(prefix="quillon-shots-")
    xvfb = subprocess.Popen(["Xvfb", DISPLAY, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"])
    app = None
    try:
        time.sleep(1)
        os.environ["DISPLAY"] = DISPLAY
        paths = []
        for name in SAMPLES:
            paths.append(os.path.join(work, name))
            write_wav(paths[-1])

        app = subprocess.Popen([executable])
        window = find_window(app.pid, "^Korvel Quillon$")
        _, _, _, height = geometry(window)
        menu_bar = height - 720

        subprocess.run(["/usr/bin/python3", xdnd_drop, "--window", window, "--rel", "--x", "200",
                        "--y", str(menu_bar + 250), "-q", *paths], check=True)
        time.sleep(1)
        xdotool("mousemove", "--window", window, "--sync", "410", str(height - 10))   # out of the way
        time.sleep(0.3)
        subprocess.run(["import", "-window", window, os.path.join(DOCS, "main-window.png")], check=True)

        # Help > About: open the menu, then its second item.
        xdotool("mousemove", "--window", window, "--sync", "155", str(menu_bar // 2), "click", "1")
        time.sleep(0.5)
        xdotool("key", "Down", "Down", "Return")
        time.sleep(1)
        # The About window is borderless and centred on the screen.
        subprocess.run(["import", "-window", "root", "-crop", "420x418+%d+%d" % ((1280 - 420) // 2, (1024 - 418) // 2),
                        "+repage", os.path.join(DOCS, "about-window.png")], check=True)
    finally:
        if app is not None:
            app.kill()
            app.wait()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()
