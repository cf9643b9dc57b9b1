#!/usr/bin/python3
"""with_window_manager.py - run one program on an X display of its own, under openbox.

    with_window_manager.py PROGRAM [ARGS...]

Starts a private Xvfb (1280 x 1024, 24 bits; the server picks a free display number and reports
it through -displayfd), starts openbox on it, waits until the window manager has announced itself
(_NET_SUPPORTING_WM_CHECK on the root window, pointing at a window that carries the same
property) and manages windows (it has taken a window of this launcher's in and let it go again),
runs PROGRAM with DISPLAY set to that display, then takes openbox and the server down again. The
exit status is the program's; 125 means the display or the window manager did not come up.

Minimising, restoring, focus and the size limits of a window only happen under a window manager,
and a test that drives them must not disturb the tests beside it, hence a display per program.
Listing a Google Test program's tests (--gtest_list_tests) needs no display: the program then runs
directly.

Needs: xvfb, openbox, python3-xlib.
"""

import ctypes
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

try:
    from Xlib import X, display as xdisplay, error as xerror
except ImportError:  # a python without Debian's dist-packages
    sys.path.append("/usr/lib/python3/dist-packages")
    from Xlib import X, display as xdisplay, error as xerror

SCREEN = "1280x1024x24"
START_TIMEOUT = 30.0
STOP_TIMEOUT = 5.0
EXIT_NO_DISPLAY = 125


def die_with_parent():
    """Run in each child before it starts: it gets SIGTERM when this launcher dies, even by
    SIGKILL (a test run's time-out), so no server or window manager is left behind."""
    libc = ctypes.CDLL(None, use_errno=True)
    pr_set_pdeathsig = 1
    libc.prctl(pr_set_pdeathsig, signal.SIGTERM)


def start_server(log):
    """Starts Xvfb on a free display; returns (process, display name). The server's messages
    (among them one for each display number it finds taken) go to the log."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN,
                               "-nolisten", "tcp", "-noreset"],
                              pass_fds=[write_end], stdin=subprocess.DEVNULL,
                              stdout=log, stderr=log, preexec_fn=die_with_parent)
    os.close(write_end)

    number = b""
    deadline = time.monotonic() + START_TIMEOUT

    with os.fdopen(read_end, "rb", buffering=0) as reader:
        while not number.endswith(b"\n"):
            remaining = deadline - time.monotonic()

            if remaining <= 0 or not select.select([reader], [], [], remaining)[0]:
                break

            chunk = reader.read(16)

            if not chunk:
                break

            number += chunk

    if not number.strip().isdigit():
        stop(server)
        raise RuntimeError("Xvfb reported no display number")

    return server, ":" + number.strip().decode()


def window_manager_is_up(connection):
    """True once a window manager has set _NET_SUPPORTING_WM_CHECK as EWMH describes it."""
    check = connection.intern_atom("_NET_SUPPORTING_WM_CHECK")
    root = connection.screen().root

    try:
        on_root = root.get_full_property(check, X.AnyPropertyType)

        if on_root is None or len(on_root.value) == 0:
            return False

        child = connection.create_resource_object("window", on_root.value[0])
        on_child = child.get_full_property(check, X.AnyPropertyType)
        return on_child is not None and len(on_child.value) > 0 and on_child.value[0] == on_root.value[0]
    except xerror.XError:  # the window named on the root has gone again
        return False


def is_managed(connection, window):
    """True once the window manager has taken the window in: it sets WM_STATE on it (ICCCM)."""
    wm_state = connection.intern_atom("WM_STATE")
    return window.get_full_property(wm_state, X.AnyPropertyType) is not None


def is_listed(connection, window):
    """True while the window manager lists the window among its clients (_NET_CLIENT_LIST)."""
    client_list = connection.intern_atom("_NET_CLIENT_LIST")
    listed = connection.screen().root.get_full_property(client_list, X.AnyPropertyType)
    return listed is not None and window.id in listed.value


def wait_until_managing(connection, manager, deadline):
    """Waits until the window manager takes a window in, and then lets it go when it is destroyed.

    openbox announces itself before its start is over, and a window mapped in between is never
    managed: the map request is lost and the window stays unmapped. A probe window is therefore
    mapped again, which asks once more, until the window manager has it; once it is gone from the
    window manager's list as well, the program starts on a desktop as empty as before."""
    screen = connection.screen()
    probe = screen.root.create_window(0, 0, 16, 16, 0, screen.root_depth)

    try:
        while not is_managed(connection, probe):
            if manager.poll() is not None or time.monotonic() > deadline:
                return False

            # Has no effect once the window is mapped.
            probe.map()
            connection.sync()
            time.sleep(0.02)
    finally:
        probe.destroy()
        connection.sync()

    while is_listed(connection, probe):
        if manager.poll() is not None or time.monotonic() > deadline:
            return False

        time.sleep(0.02)

    return True


def start_window_manager(display_name, config_home, log):
    """Starts openbox with its default settings (none from the user's home) and waits for it."""
    environment = dict(os.environ, DISPLAY=display_name,
                       XDG_CONFIG_HOME=os.path.join(config_home, "config"),
                       XDG_CACHE_HOME=os.path.join(config_home, "cache"),
                       XDG_DATA_HOME=os.path.join(config_home, "data"))
    manager = subprocess.Popen(["openbox", "--sm-disable"], env=environment, stdin=subprocess.DEVNULL,
                               stdout=log, stderr=log, preexec_fn=die_with_parent)

    connection = xdisplay.Display(display_name)
    deadline = time.monotonic() + START_TIMEOUT

    try:
        while not window_manager_is_up(connection):
            if manager.poll() is not None or time.monotonic() > deadline:
                stop(manager)
                raise RuntimeError("openbox did not come up on " + display_name)

            time.sleep(0.02)

        if not wait_until_managing(connection, manager, deadline):
            stop(manager)
            raise RuntimeError("openbox manages no window on " + display_name)
    finally:
        connection.close()

    return manager


def stop(process):
    if process is None or process.poll() is not None:
        return

    process.terminate()

    try:
        process.wait(STOP_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def main(arguments):
    if not arguments:
        sys.stderr.write(__doc__)
        return 2

    if "--gtest_list_tests" in arguments:
        os.execv(arguments[0], arguments)

    server = manager = test = None

    # The program is stopped like this launcher, and everything is taken down after it.
    def forward(signum, _frame):
        if test is not None and test.poll() is None:
            test.send_signal(signum)
        else:
            raise SystemExit(128 + signum)

    signal.signal(signal.SIGTERM, forward)
    signal.signal(signal.SIGINT, forward)

    try:
        with tempfile.TemporaryDirectory(prefix="quillon-wm-") as config_home, \
             tempfile.TemporaryFile(prefix="quillon-wm-log-") as log:
            try:
                server, display_name = start_server(log)
                manager = start_window_manager(display_name, config_home, log)
            except (RuntimeError, OSError, xerror.DisplayError) as problem:
                log.seek(0)
                sys.stderr.write(log.read().decode(errors="replace"))
                sys.stderr.write("with_window_manager: %s\n" % problem)
                return EXIT_NO_DISPLAY

            test = subprocess.Popen(arguments, env=dict(os.environ, DISPLAY=display_name),
                                    preexec_fn=die_with_parent)
            status = test.wait()

            if status < 0:
                sys.stderr.write("with_window_manager: %s ended by %s\n"
                                 % (os.path.basename(arguments[0]), signal.Signals(-status).name))
                return 128 - status

            return status
    finally:
        stop(test)
        stop(manager)
        stop(server)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
