#!/usr/bin/python3
"""The program as a screen reader sees it: its accessible tree over AT-SPI,
then a closed figure drawn with the keyboard alone and saved.

Run under dbus-run-session, with Debian's python3-pyatspi and at-spi2-core:
    dbus-run-session -- /usr/bin/python3 a11y_walk.py KAV_BINARY
It starts its own Xvfb and gives the program folders of its own."""

import os
import subprocess
import sys
import tempfile
import time


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def wait_for(what, probe, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.1)
    fail(what)


kav_binary = sys.argv[1]
home = tempfile.mkdtemp(prefix="kav-a11y-")
os.chmod(home, 0o700)

# Xvfb tells the display that it found free.
read_end, write_end = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-screen", "0", "1024x768x24",
                         "-nolisten", "tcp"], pass_fds=[write_end])
os.close(write_end)
with os.fdopen(read_end) as pipe:
    display = pipe.readline().strip()
if not display:
    fail("Xvfb did not report its display")
os.environ["DISPLAY"] = ":" + display

import pyatspi  # noqa: E402  (needs the display)

env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
           XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_STATE_HOME=os.path.join(home, "state"))


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], capture_output=True, text=True, env=env).stdout.strip()


def keys(window, *names):
    xdotool("windowfocus", "--sync", window, "key", "--delay", "20", *names)
    time.sleep(0.3)


def window_named(name):
    return xdotool("search", "--onlyvisible", "--name", name).split("\n")[0]


# The mouse stays out of the way: the keyboard cursor starts in the middle.
xdotool("mousemove", "1020", "760")
kav = subprocess.Popen([kav_binary], env=env)
try:
    main = wait_for("the main window did not appear", lambda: window_named("^KAV Edytor$"))

    def application():
        desktop = pyatspi.Registry.getDesktop(0)
        return next((a for a in desktop if a is not None and a.name == "kav"), None)

    app = wait_for("the program is not on the accessibility bus", application)

    def find(name, root=None):
        return pyatspi.findDescendant(root or app, lambda o: o.name == name)

    for entry in ["Plik", "Nowy", "Otwórz...", "Zapisz...", "Wyjście", "Pokaż współrzędne", "Cofnij",
                  "O programie", "About kav..."]:
        item = find(entry)
        if item is None or item.getRole() != pyatspi.ROLE_MENU_ITEM:
            fail("no menu entry " + entry)
    view = find("Obszar rysowania")
    if view is None:
        fail("no drawing area")
    panes = {name: find(name) for name in ["Położenie x", "Położenie y", "Liczba punktów"]}
    for name, pane in panes.items():
        if pane is None:
            fail("no readout " + name)

    def readout(name):
        return panes[name].description

    def described(obj, text, what):
        wait_for("%s reads %r, not %r" % (what, obj.description, text), lambda: obj.description == text, 5)

    described(view, "Liczba punktów: 0", "the drawing area")
    if readout("Położenie x").strip() != "":
        fail("the x readout is not blank at the start")

    keys(main, "Tab")
    wait_for("the drawing area has no focus", lambda: view.getState().contains(pyatspi.STATE_FOCUSED), 5)

    # Right once, then read where the cursor is, as a blind user would.
    keys(main, "Right")
    wait_for("the readouts did not follow the keyboard", lambda: readout("Położenie x").startswith("x="), 5)
    a = (int(readout("Położenie x")[2:]), int(readout("Położenie y")[2:]))
    b = (a[0] + 100, a[1])
    c = (a[0] + 100, a[1] - 80)
    keys(main, "space", *["shift+Right"] * 10, "space", *["shift+Up"] * 8)
    described(panes["Położenie x"], "x=%d" % c[0], "the x readout")
    described(panes["Położenie y"], "y=%d" % c[1], "the y readout")
    keys(main, "Return", *["shift+Left"] * 10, *["shift+Down"] * 8, "space")
    question = wait_for("the join question did not appear", lambda: window_named("^Połączyć\\?$"))
    keys(question, "Return")
    described(view, "Liczba punktów: 4", "the drawing area")
    keys(main, "Left")  # the readouts change only with the cursor
    described(panes["Liczba punktów"], " punktów: 4", "the count readout")

    # Save: Return takes the dialog's spaces and the order of the points.
    saved = os.path.join(home, "triangle.txt")
    keys(main, "ctrl+s")

    def format_dialog():
        windows = xdotool("search", "--onlyvisible", "--classname", "kav").split("\n")
        return next((w for w in windows if w and w != main), None)

    keys(wait_for("the save-format dialog did not appear", format_dialog), "Return")
    dialog = wait_for("the save dialog did not appear", lambda: window_named("^Zachowaj jako$"))
    for attempt in range(3):
        if not window_named("^Zachowaj jako$"):
            break
        time.sleep(0.3)
        xdotool("windowfocus", "--sync", dialog)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "5", saved)
        xdotool("key", "Return")
        time.sleep(1)
    wait_for("nothing was saved", lambda: os.path.exists(saved), 5)
    with open(saved) as f:
        points = f.read()
    expected = " ".join(str(n) for p in (a, b, c, a) for n in p)
    if points != expected:
        fail("saved %r, not %r" % (points, expected))

    keys(main, "ctrl+q")
    if kav.wait(10) != 0:
        fail("the program did not end cleanly")
    print("the accessible tree and a keyboard-drawn figure: %s" % points)
finally:
    if kav.poll() is None:
        kav.kill()
    xvfb.terminate()
    xvfb.wait()
    subprocess.run(["rm", "-rf", home])
