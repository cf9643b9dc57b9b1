#!/usr/bin/python3
"""End to end: the real executable on the X display in $DISPLAY, driven as a user would.

Files and a folder are dropped onto the file table (xdnd_drop.py), an output name is edited by
typing, Convert is clicked, the output folder is chosen in the folder dialog, and the outputs are
checked as WAV files. Then a second launch must end at once and change nothing, and Ctrl+Q must
quit cleanly.

Usage: EndToEndTests.py <executable> <xdnd_drop.py>

The folder dialog is JUCE's own: the program gets a PATH whose `which` denies zenity and kdialog,
so the test does not depend on what the machine has installed.
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave

EXECUTABLE = None
XDND_DROP = None

CONTENT_WIDTH, CONTENT_HEIGHT = 420, 720

# Positions inside the main window's content (420 x 720), below the menu bar.
TABLE_POINT = (200, 250)            # anywhere on the file table
FIRST_OUTPUT_NAME = (315, 131)      # the output-name editor of the first row
CONVERT_BUTTON = (345, 397)
EMPTY_BACKGROUND = (200, 60)


def run(*args, check=True, timeout=30, **kwargs):
    return subprocess.run(list(args), check=check, timeout=timeout, capture_output=True, text=True, **kwargs)


def xdotool(*args, timeout=30):
    return run("xdotool", *args, timeout=timeout).stdout.strip()


def find_window(name, pid=None, timeout=15.0):
    """The id of the visible window with exactly this name (and process), or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        args = ["xdotool", "search", "--all", "--onlyvisible"]
        if pid is not None:
            args += ["--pid", str(pid)]
        result = subprocess.run(args + ["--name", "^%s$" % name], capture_output=True, text=True)
        ids = result.stdout.split()
        if ids:
            return ids[0]
        time.sleep(0.1)
    return None


def geometry(window):
    values = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click(window, x, y):
    xdotool("mousemove", "--window", window, "--sync", str(x), str(y), "click", "1")


def write_wav(path, rate, channels, seconds, frequency=440.0):
    frames = int(rate * seconds)
    with wave.open(path, "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(rate)
        samples = bytearray()
        for i in range(frames):
            value = int(12000 * math.sin(2 * math.pi * frequency * i / rate))
            samples += struct.pack("<h", value) * channels
        out.writeframes(bytes(samples))


def wait_until(condition, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return condition()


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.processes = []
        self.addCleanup(self.stop_processes)

        # The folder dialog must be JUCE's own, whatever is installed.
        tools = os.path.join(self.root, "bin")
        os.makedirs(tools)
        which = os.path.join(tools, "which")
        real_which = shutil.which("which") or "/usr/bin/which"
        with open(which, "w") as script:
            script.write('#!/bin/sh\ncase "$1" in zenity|kdialog) exit 1 ;; esac\nexec %s "$@"\n' % real_which)
        os.chmod(which, 0o755)

        self.env = dict(os.environ)
        self.env["PATH"] = tools + os.pathsep + self.env.get("PATH", "/usr/bin:/bin")
        self.env["HOME"] = os.path.join(self.root, "home")
        os.makedirs(self.env["HOME"])

        self.inputs = os.path.join(self.root, "in")
        self.kit = os.path.join(self.inputs, "kit")
        self.output = os.path.join(self.root, "out")
        os.makedirs(os.path.join(self.kit, "toms"))
        os.makedirs(self.output)

        # (file, rate, channels, seconds)
        self.sources = {
            "lead.wav": (os.path.join(self.inputs, "lead.wav"), 48000, 1, 0.5),
            "snare.wav": (os.path.join(self.kit, "snare.wav"), 22050, 2, 0.3),
            "hat.wav": (os.path.join(self.kit, "hat.wav"), 44100, 1, 0.2),
            "lowtom.wav": (os.path.join(self.kit, "toms", "low tom.wav"), 96000, 2, 0.25),
        }
        for path, rate, channels, seconds in self.sources.values():
            write_wav(path, rate, channels, seconds)
        with open(os.path.join(self.kit, "notes.txt"), "w") as notes:
            notes.write("not a sample")

    def stop_processes(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait(10)

    def launch(self):
        log = open(os.path.join(self.root, "program-%d.log" % len(self.processes)), "wb")
        self.addCleanup(log.close)
        process = subprocess.Popen([EXECUTABLE], env=self.env, stdout=log, stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process

    def drop(self, window, *paths):
        x, y = TABLE_POINT
        result = run("/usr/bin/python3", XDND_DROP, "--window", window, "--rel",
                     "--x", str(x), "--y", str(self.menu_bar + y), *paths, check=False)
        if result.returncode == 5:  # a lost message under load: try once more
            result = run("/usr/bin/python3", XDND_DROP, "--window", window, "--rel",
                         "--x", str(x), "--y", str(self.menu_bar + y), *paths, check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        time.sleep(0.5)  # the application takes the files after the protocol has finished

    def content_click(self, window, point):
        click(window, point[0], self.menu_bar + point[1])

    def choose_folder_in_dialog(self, folder):
        dialog = find_window("Choose output folder", self.app.pid)
        self.assertIsNotNone(dialog, "the folder dialog did not appear")
        _, _, width, height = geometry(dialog)
        # JUCE's dialog: the file name box sits above the button row, "Choose"/"Open" bottom right.
        time.sleep(0.3)
        click(dialog, 150, height - 62)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "20", folder)
        time.sleep(0.2)
        click(dialog, width - 40, height - 24)
        self.assertTrue(wait_until(lambda: find_window("Choose output folder", self.app.pid, 0.1) is None, 5),
                        "the folder dialog did not close")

    def check_outputs(self, expected):
        self.assertEqual(sorted(os.listdir(self.output)), sorted(expected))
        for name, source in expected.items():
            _, rate, channels, seconds = self.sources[source]
            with open(os.path.join(self.output, name), "rb") as data:
                header = data.read(12)
            self.assertEqual(header[:4], b"RIFF", name)
            self.assertEqual(header[8:12], b"WAVE", name)
            with wave.open(os.path.join(self.output, name), "rb") as result:
                self.assertEqual(result.getframerate(), 44100, name)
                self.assertEqual(result.getsampwidth(), 2, name)
                self.assertEqual(result.getnchannels(), channels, name)
                self.assertAlmostEqual(result.getnframes(), seconds * 44100, delta=2 + seconds * 441, msg=name)
                frames = result.readframes(result.getnframes())
            peak = max(abs(v) for v in struct.unpack("<%dh" % (len(frames) // 2), frames))
            self.assertGreater(peak, 6000, name + " lost its signal")

    def test_a_user_converts_dropped_files_and_quits(self):
        self.app = self.launch()
        window = find_window("Korvel Quillon", self.app.pid)
        if window is None and self.app.poll() is not None:
            # The single-instance lock is machine-wide (/var/tmp).
            self.fail("the program ended at once; is another Korvel Quillon running on this machine?")
        self.assertIsNotNone(window, "no main window")

        _, _, width, height = geometry(window)
        self.assertEqual(width, CONTENT_WIDTH)
        self.menu_bar = height - CONTENT_HEIGHT
        self.assertGreater(self.menu_bar, 0, "no menu bar above the content")

        # One file, then its output name typed anew, then a whole folder.
        self.drop(window, self.sources["lead.wav"][0])
        self.content_click(window, FIRST_OUTPUT_NAME)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "30", "SOLO 1")   # the space is not allowed in an output name
        xdotool("key", "Return")
        self.drop(window, self.kit)

        self.content_click(window, CONVERT_BUTTON)
        self.choose_folder_in_dialog(self.output)

        done = find_window("Conversion complete", self.app.pid, 20)
        self.assertIsNotNone(done, "no \"Conversion complete\" box")
        self.check_outputs({"SOLO1.wav": "lead.wav", "snare.wav": "snare.wav", "hat.wav": "hat.wav",
                            "lowtom.wav": "lowtom.wav"})
        click(done, 20, 20)      # give the box the focus, then press its button
        xdotool("key", "Return")
        self.assertTrue(wait_until(lambda: find_window("Conversion complete", self.app.pid, 0.1) is None, 5),
                        "the completion box stayed")

        # A second launch ends at once, shows nothing and changes nothing.
        before = {name: os.stat(os.path.join(self.output, name)).st_mtime_ns for name in os.listdir(self.output)}
        second = self.launch()
        self.assertEqual(second.wait(10), 0)
        self.assertIsNone(find_window("Korvel Quillon", second.pid, 1.0))
        self.assertIsNone(self.app.poll(), "the running instance ended")
        after = {name: os.stat(os.path.join(self.output, name)).st_mtime_ns for name in os.listdir(self.output)}
        self.assertEqual(before, after)

        # Ctrl+Q with no run in progress quits at once.
        self.content_click(window, EMPTY_BACKGROUND)
        xdotool("key", "ctrl+q")
        self.assertEqual(self.app.wait(10), 0)


if __name__ == "__main__":
    EXECUTABLE, XDND_DROP = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
