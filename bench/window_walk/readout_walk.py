#!/usr/bin/python3
"""How long the real window goes without answering the mouse during an Open,
a fit, zooms, a pan, a return to 1:1 and a Save: the mouse moves over the drawing area, and the x= readout is
read over AT-SPI until it shows the move. Both go through the GUI thread,
which _NET_WM_PING alone does not show: Qt answers a ping while it shuts
out input.

    dbus-run-session -- /usr/bin/python3 readout_walk.py KAV_BINARY POINTS_FILE

Prints, for each step, the number of moves and the longest and the median
time from a move to its readout, in ms. It starts its own Xvfb and gives
the program folders of its own."""

import os
import statistics
import subprocess
import sys
import tempfile
import time


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


kav_binary, points_file = sys.argv[1], sys.argv[2]
home = tempfile.mkdtemp(prefix="kav-readout-")
os.chmod(home, 0o700)

read_end, write_end = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-screen", "0", "1280x1024x24",
                         "-nolisten", "tcp"], pass_fds=[write_end])
os.close(write_end)
with os.fdopen(read_end) as pipe:
    os.environ["DISPLAY"] = ":" + pipe.readline().strip()

import pyatspi  # noqa: E402  (needs the display)

env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
           XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_STATE_HOME=os.path.join(home, "state"))


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], capture_output=True, text=True, env=env).stdout.strip()


def wait_for(what, probe, seconds=20.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.05)
    fail(what)


def find(root, name):
    for child in root:
        if child is None:
            continue
        if child.name == name:
            return child
        found = find(child, name)
        if found:
            return found
    return None


kav = subprocess.Popen([kav_binary], env=env)
try:
    app = wait_for("the program on the bus", lambda: next(
        (a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "kav"), None))
    pane = wait_for("the x readout", lambda: find(app, "Położenie x"))
    view = wait_for("the drawing area", lambda: find(app, "Obszar rysowania"))
    main = wait_for("the main window", lambda: xdotool("search", "--name", "^KAV Edytor$").split("\n")[0])
    extents = view.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    # The top left corner: a dialog centred on the window leaves it clear.
    left, top = extents.x + 20, extents.y + 20

    # Where the last move went: each probe goes on from there, since a move
    # to where the mouse already is changes no readout.
    flip = [0]

    def probe(step, until, seconds=60.0):
        """Moves the mouse to and fro until `until()` holds, timing each move's readout."""
        times = []
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            flip[0] = 1 - flip[0]
            x = left + 40 * flip[0]
            before = pane.description
            start = time.monotonic()
            xdotool("mousemove", str(x), str(top))
            while pane.description == before and time.monotonic() - start < 10:
                time.sleep(0.001)
            times.append((time.monotonic() - start) * 1000)
            if until():
                break
        print(f"{step}: {len(times)} moves, longest {max(times):.0f} ms, median {statistics.median(times):.0f} ms")
        return max(times)

    count = find(app, "Liczba punktów")
    xdotool("windowfocus", "--sync", main, "key", "ctrl+o")
    wait_for("the open dialog", lambda: xdotool("search", "--onlyvisible", "--name", "^Otwórz$"))
    xdotool("type", "--delay", "2", points_file)
    xdotool("key", "Return")
    started = time.monotonic()
    # The count pane ("punktów: N") changes at a mouse move once the points are in.
    probe("open", lambda: count.description.strip() not in ("", "punktów: 0") and time.monotonic() - started > 1.0)

    # Fit, four notches in, a pan by the wheel and back to 1:1, each timed
    # for a while after its key, as the picture at the new scale is drawn.
    def after(step, *keys):
        xdotool("windowfocus", "--sync", main, *keys)
        started = time.monotonic()
        probe(step, lambda: time.monotonic() - started > 3.0)

    after("fit", "key", "f")
    for notch in range(1, 5):
        after(f"zoom in {notch}", "key", "ctrl+plus")
    after("pan", "click", "5", "click", "5", "click", "5", "click", "5")
    after("1:1", "key", "ctrl+0")

    saved = os.path.join(home, "saved.txt")
    xdotool("windowfocus", "--sync", main, "key", "ctrl+s")
    time.sleep(0.5)
    xdotool("key", "Return")  # the save-format dialog's defaults
    wait_for("the save dialog", lambda: xdotool("search", "--onlyvisible", "--name", "^Zachowaj jako$"))
    xdotool("type", "--delay", "2", saved)
    xdotool("key", "Return")
    started = time.monotonic()
    probe("save", lambda: not xdotool("search", "--onlyvisible", "--name", "^Zapisywanie")
          and os.path.exists(saved) and time.monotonic() - started > 1.0)
    print(f"saved {os.path.getsize(saved)} bytes")
finally:
    kav.kill()
    kav.wait()
    xvfb.kill()
