#!/usr/bin/python3
"""End to end: the real executable on the X display in $DISPLAY, driven as a user would.

Files and a folder are dropped onto the file table (xdnd_drop.py), an output name is edited by
typing, Convert is clicked, the output folder is chosen in the folder dialog, and the outputs are
checked as WAV files. Then a second launch must end at once and change nothing, and Ctrl+Q must
quit cleanly. The program's life besides: started without a display it says so and ends; the
signals that ask it to end (SIGTERM, SIGINT, SIGHUP) make it quit cleanly, also during a run and
while the desktop's folder chooser asks.

Usage: EndToEndTests.py <executable> <xdnd_drop.py>

The folder dialog is JUCE's own: the program gets a PATH whose `which` denies zenity and kdialog,
so the test does not depend on what the machine has installed. The tests of the desktop's chooser
put a stand-in zenity first on the PATH instead.
"""

import math
import os
import shlex
import shutil
import signal
import socket
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


def write_long_wav(path, frames):
    """A mono 16-bit WAV at 2000 Hz: upsampled to 44100 Hz it takes a while to convert."""
    period = b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * i / 100))) for i in range(100))
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(2000)
        out.writeframes(period * (frames // 100))


def x_display_reachable(number):
    for address in ("/tmp/.X11-unix/X%d" % number, "\0/tmp/.X11-unix/X%d" % number):
        with socket.socket(socket.AF_UNIX) as probe:
            try:
                probe.connect(address)
                return True
            except OSError:
                pass
    return False


def process_running(pid):
    """False once the process is gone or a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


# The desktop's folder chooser: records its pid, then waits for an answer file (a folder to
# print, or empty to cancel); unanswered, it gives up after 30 s.
STAND_IN_ZENITY = """#!/bin/sh
dir=%s
echo $$ >> "$dir/chooser-starts"
waited=0
while [ ! -e "$dir/answer" ]; do
  sleep 0.02; waited=$((waited + 1))
  if [ $waited -gt 1500 ]; then exit 1; fi
done
answer=$(cat "$dir/answer"); rm -f "$dir/answer"
[ -n "$answer" ] || exit 1
printf '%%s\n' "$answer"
"""


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

    def launch(self, env=None):
        log = open(os.path.join(self.root, "program-%d.log" % len(self.processes)), "wb")
        self.addCleanup(log.close)
        process = subprocess.Popen([EXECUTABLE], env=env or self.env, stdout=log, stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process

    def open_program(self, env=None):
        """Launches the program and gives its main window, with the menu bar's height measured."""
        self.app = self.launch(env)
        window = find_window("Korvel Quillon", self.app.pid)
        if window is None and self.app.poll() is not None:
            # The single-instance lock is machine-wide (/var/tmp).
            self.fail("the program ended at once; is another Korvel Quillon running on this machine?")
        self.assertIsNotNone(window, "no main window")
        _, _, _, height = geometry(window)
        self.menu_bar = height - CONTENT_HEIGHT
        return window

    def desktop_chooser_env(self):
        """An environment whose zenity is the stand-in; its folder is where it leaves its traces."""
        self.chooser = os.path.join(self.root, "chooser")
        os.makedirs(self.chooser)
        which = os.path.join(self.chooser, "which")
        with open(which, "w") as script:
            script.write('#!/bin/sh\ncase "$1" in kdialog) exit 1 ;; esac\nexec %s "$@"\n'
                         % (shutil.which("which") or "/usr/bin/which"))
        with open(os.path.join(self.chooser, "zenity"), "w") as script:
            script.write(STAND_IN_ZENITY % shlex.quote(self.chooser))
        for tool in ("which", "zenity"):
            os.chmod(os.path.join(self.chooser, tool), 0o755)
        env = dict(self.env)
        env["PATH"] = self.chooser + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin")
        return env

    def chooser_pids(self):
        try:
            with open(os.path.join(self.chooser, "chooser-starts")) as starts:
                return [int(line) for line in starts.read().split()]
        except OSError:
            return []

    def answer_chooser(self, text):
        pending = os.path.join(self.chooser, "answer.pending")
        with open(pending, "w") as answer:
            answer.write(text)
        os.rename(pending, os.path.join(self.chooser, "answer"))

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
        window = self.open_program()
        _, _, width, _ = geometry(window)
        self.assertEqual(width, CONTENT_WIDTH)
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

    def test_without_a_display_it_says_so_and_ends(self):
        free = next(n for n in range(90, 400) if not os.path.exists("/tmp/.X11-unix/X%d" % n)
                    and not os.path.exists("/tmp/.X%d-lock" % n) and not x_display_reachable(n))
        cases = [(":%d" % free, 'cannot open the display ":%d"' % free)]
        # Without DISPLAY the framework tries :0, which may well be there.
        if not x_display_reachable(0):
            cases.append((None, "cannot open a display (DISPLAY is not set)"))
        for display, message in cases:
            with self.subTest(display=display):
                env = dict(self.env)
                env.pop("DISPLAY", None)
                if display is not None:
                    env["DISPLAY"] = display
                result = run(EXECUTABLE, env=env, check=False)
                # Status 0 and no word: it handed over to a running instance (the lock is machine-wide).
                self.assertEqual(result.returncode, 1, result.stderr or "is another Korvel Quillon running?")
                self.assertEqual(result.stderr, "Korvel Quillon: %s\n" % message)
                self.assertEqual(result.stdout, "")

    def test_each_quit_signal_ends_an_idle_program_cleanly(self):
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=number.name):
                self.open_program()
                self.app.send_signal(number)
                self.assertEqual(self.app.wait(10), 0)

    def test_sigterm_during_a_run_deletes_the_file_in_hand(self):
        # 8 million samples at 2000 Hz: 176 million at 44100 Hz, a file of 353 MB that is on
        # disk, unfinished (under whatever name), long enough to be seen there.
        long_input = os.path.join(self.inputs, "long.wav")
        write_long_wav(long_input, 8000000)
        window = self.open_program(self.desktop_chooser_env())
        self.drop(window, long_input)
        self.content_click(window, CONVERT_BUTTON)
        self.assertTrue(wait_until(lambda: self.chooser_pids(), 10), "the desktop's chooser did not start")
        self.answer_chooser(self.output)

        self.assertTrue(wait_until(lambda: os.listdir(self.output), 60, 0.005), "the output was never written")
        in_hand = os.path.join(self.output, os.listdir(self.output)[0])
        self.assertLess(os.path.getsize(in_hand), 44 + 176400000 * 2, "written before the test saw it")
        self.app.send_signal(signal.SIGTERM)
        self.assertEqual(self.app.wait(20), 0)
        self.assertEqual(os.listdir(self.output), [])

    def test_sigterm_while_the_desktop_chooser_asks_ends_both(self):
        window = self.open_program(self.desktop_chooser_env())
        self.drop(window, self.sources["lead.wav"][0])
        self.content_click(window, CONVERT_BUTTON)
        self.assertTrue(wait_until(lambda: self.chooser_pids(), 10), "the desktop's chooser did not start")
        chooser = self.chooser_pids()[0]
        self.assertTrue(process_running(chooser))

        self.app.send_signal(signal.SIGTERM)
        self.assertEqual(self.app.wait(10), 0)
        self.assertTrue(wait_until(lambda: not process_running(chooser), 5), "the chooser stayed")
        self.assertEqual(os.listdir(self.output), [])

    def test_sigterm_while_the_file_exists_dialog_asks_ends_the_program(self):
        existing = os.path.join(self.output, "lead.wav")
        with open(existing, "w") as old:
            old.write("old")
        window = self.open_program(self.desktop_chooser_env())
        self.drop(window, self.sources["lead.wav"][0])
        self.content_click(window, CONVERT_BUTTON)
        self.assertTrue(wait_until(lambda: self.chooser_pids(), 10), "the desktop's chooser did not start")
        self.answer_chooser(self.output)
        self.assertIsNotNone(find_window("File exists", self.app.pid), "no \"File exists\" dialog")

        self.app.send_signal(signal.SIGTERM)
        self.assertEqual(self.app.wait(10), 0)
        self.assertEqual(os.listdir(self.output), ["lead.wav"])
        with open(existing) as kept:
            self.assertEqual(kept.read(), "old")

    def test_ctrl_q_while_the_desktop_chooser_asks_quits_when_it_closes(self):
        window = self.open_program(self.desktop_chooser_env())
        self.drop(window, self.sources["lead.wav"][0])
        self.content_click(window, CONVERT_BUTTON)
        self.assertTrue(wait_until(lambda: self.chooser_pids(), 10), "the desktop's chooser did not start")

        # The window stays live while the chooser asks; the quit waits for the chooser.
        self.content_click(window, EMPTY_BACKGROUND)
        xdotool("key", "ctrl+q")
        with self.assertRaises(subprocess.TimeoutExpired):
            self.app.wait(1)

        # The folder it gives then starts no run.
        self.answer_chooser(self.output)
        self.assertEqual(self.app.wait(10), 0)
        self.assertEqual(os.listdir(self.output), [])


if __name__ == "__main__":
    EXECUTABLE, XDND_DROP = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
