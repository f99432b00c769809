#!/usr/bin/python3
"""End-to-end test of the quorvane program.

Starts the real executable on a virtual X display of its own (Xvfb), with a settings folder of
its own and its three whois sites pointed at an HTTP server on 127.0.0.1 that this script runs.
The window is then driven as a user would drive it, with synthetic mouse and keyboard input
(XTest), through this scenario:

  - sample addresses loaded, then the list cleared;
  - three addresses added through the input prompt, the delay set to 0;
  - a lookup run on the default site, its "Done." box confirmed, the results saved through the
    file dialog;
  - a second run on the first site; while its first page is held back by the server, the user
    clicks another site, "Clear List" and "Clear Results" (all refused during a run) and adds an
    address; the results saved over the first file after the program's overwrite question;
  - the "?" note; "Clear Results" and a save of the empty table; a list file loaded;
  - the window closed with the window manager's close request;
  - a restart with the same settings: a run starts from the restored list on the site chosen
    before, and the window is closed while its first page is still loading;
  - a start without a network: the warning comes before the window; the settings stay intact;
  - a start with its source kept as WHOIS (port 43) in a settings file of its own: a run against
    a local IANA and registry, the rows with their summary columns, the caption's counts after
    the run.

Checked on the way and afterwards: the settings file after each change of the list and at the
end, the saved text files byte for byte, the pages the server was asked for (paths and
User-Agent), the captions of the dialogs, and that the program ended by itself with code 0.

Every wait is bounded. On failure the screen is saved as e2e-failure.png in the work folder,
the program and the X server are stopped, and the program's output is printed.

    e2e_driver.py --program build/src/app/quorvane --work-dir build/tests/e2e
    e2e_driver.py --program ... --work-dir ... --screenshots docs   # also writes the README images
"""

import argparse
import html
import os
import select
import shutil
import socket
import socketserver
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

try:
    from Xlib import X, XK, error as xerror, protocol
    from Xlib import display as xdisplay
    from Xlib.ext import xtest
    import PIL.Image
except ImportError as e:
    sys.exit(f"{e}: run with Debian's /usr/bin/python3 and the packages python3-xlib and "
             "python3-pil (scripts/setup.sh installs them)")

SCREEN_WIDTH, SCREEN_HEIGHT = 1280, 1024
CLIENT_WIDTH, CLIENT_HEIGHT = 536, 595

# Bounds of the waits, in seconds.
START_TIMEOUT = 40
DIALOG_TIMEOUT = 20
RUN_TIMEOUT = 90
EXIT_TIMEOUT = 20
HOLD_TIMEOUT = 20  # the program gives up on a page after 30 s


class Failure(Exception):
    pass


def px(twips):
    # The window places its controls at twips / 15, rounded to the nearest pixel.
    return (twips + 7) // 15


# Control rectangles in twips (left, top, width, height); controls in a frame are relative to it.
FRAME1 = (120, 2800, 7800, 1420)
FRAME2 = (120, 4320, 7800, 825)
CONTROLS = {
    "ListView1": (None, (120, 120, 7800, 1575)),
    "PushButton5": (None, (120, 1800, 3840, 405)),
    "PushButton3": (None, (4080, 1800, 3840, 405)),
    "PushButton11": (None, (120, 2310, 3840, 405)),
    "PushButton1": (None, (4080, 2310, 3840, 405)),
    "Option2": (FRAME1, (240, 300, 2355, 285)),
    "Option1": (FRAME1, (240, 650, 2040, 285)),
    "Option3": (FRAME1, (240, 1000, 1635, 285)),
    "Text1": (FRAME2, (240, 300, 6540, 345)),
    "PushButton7": (FRAME2, (6960, 300, 600, 345)),
    "PushButton4": (None, (120, 5720, 7800, 405)),
    "ListView2": (None, (120, 6230, 7800, 1575)),
    "PushButton6": (None, (120, 7890, 3840, 405)),
    "PushButton2": (None, (4080, 7890, 3840, 405)),
    "PushButton18": (None, (120, 8400, 3840, 405)),
    "PushButton9": (None, (4080, 8400, 3840, 405)),
}


def control_rect(name):
    """The control's rectangle in pixels, relative to the window's client area."""
    frame, (left, top, width, height) = CONTROLS[name]
    x, y = px(left), px(top)
    if frame:
        x += px(frame[0])
        y += px(frame[1])
    return x, y, px(width), px(height)


# ---------------------------------------------------------------- the whois pages

# Records served for Option2 (the default site): the lines of each record, as the site shows
# them inside its record container.
DOMAIN_RECORDS = {
    "example.com": [
        "Domain Name: EXAMPLE.COM",
        "Registry Domain ID: 2336799_DOMAIN_COM-VRSN",
        "Registrar: RESERVED-Internet Assigned Numbers Authority",
        "Updated Date: 2024-08-14T07:01:34Z",
        "Name Server: A.IANA-SERVERS.NET",
        "Name Server: B.IANA-SERVERS.NET",
        "DNSSEC: signedDelegation",
    ],
    "example.org": [
        "% The record below is provided for information only.",
        "Domain Name: example.org",
        "Registrar: Société Exemple & Cie",
        "Creation Date: 1995-08-31T04:00:00Z",
        "Name Server: a.iana-servers.net",
        "DNSSEC: signedDelegation",
    ],
    "192.0.2.1": [
        "NetRange: 192.0.2.0 - 192.0.2.255",
        "CIDR: 192.0.2.0/24",
        "NetName: TEST-NET-1",
        "OrgName: Internet Assigned Numbers Authority",
        "Updated: 2013-08-30 10:20:30",
    ],
}

ADDRESSES = ["example.com", "example.org", "192.0.2.1"]
# Added while the second run is under way, so not looked up by it.
LATE_ADDRESS = "example.net"
# A list file as a Windows editor saves it: byte-order mark, CR LF after every line.
LIST_FILE_BYTES = b"\xef\xbb\xbfexample.info\r\n198.51.100.7\r\n"
LIST_FILE_ADDRESSES = ["example.info", "198.51.100.7"]
# The first site knows the two domains; for the IP address it shows a page without a record.
SITE1_DOMAINS = {"example.com", "example.org"}

# The saved text file: one line per address, cells separated by tabs, columns in the order the
# field names first turned up in the run, a field met twice holding both values tab-joined.
# Columns: IP Address(es)/Domain(s), Domain Name, Registry Domain ID, Registrar, Updated Date,
# Name Server, DNSSEC, Creation Date, NetRange, CIDR, NetName, OrgName, Updated.
EXPECTED_ROWS = [
    ["example.com", "EXAMPLE.COM", "2336799_DOMAIN_COM-VRSN",
     "RESERVED-Internet Assigned Numbers Authority", "2024-08-14T07:01:34Z",
     "A.IANA-SERVERS.NET\tB.IANA-SERVERS.NET", "signedDelegation", "", "", "", "", "", ""],
    ["example.org", "example.org", "", "Société Exemple & Cie", "", "a.iana-servers.net",
     "signedDelegation", "1995-08-31T04:00:00Z", "", "", "", "", ""],
    ["192.0.2.1", "", "", "", "", "", "", "", "192.0.2.0 - 192.0.2.255", "192.0.2.0/24",
     "TEST-NET-1", "Internet Assigned Numbers Authority", "2013-08-30 10:20:30"],
]


# The second run, on the first site: the IP address gets a page without a record, so its row
# keeps the address only.
EXPECTED_ROWS_SITE1 = [row[:8] for row in EXPECTED_ROWS[:2]] + [["192.0.2.1"] + [""] * 7]


def option2_page(address, lines):
    """A page laid out like the default site's: navigation, scripts and a footer around the
    record container, whose lines are separated by <br> and a line break of the source."""
    body = "<br>\n".join(html.escape(line, quote=False) for line in lines)
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{html.escape(address)} WHOIS, DNS, &amp; Domain Info</title>
<style>#whoisRecordContainer {{ font-family: monospace; }} .hidden {{ display: none; }}</style>
<script>window.dataLayer = window.dataLayer || []; var note = "Registrar: not a field";</script>
</head>
<body>
<div class="navbar"><a href="/">Home</a> | <a href="/whois">Whois Lookup</a> | Tools: DNS</div>
<h1>Whois Record for {html.escape(address)}</h1>
<div class="stats">Last updated: 2024-09-01</div>
<div class="whois-record">
<div id="whoisRecordContainer">{body}</div>
</div>
<div class="footer">&copy; 2024 Domain research site. Contact: support</div>
</body>
</html>
"""


def option1_page(address, lines):
    """A page laid out like the first site's: a summary block, then the raw record as the
    first `pre` element, its lines separated by line feeds of the source."""
    record = html.escape("\n".join(lines), quote=False)
    return f"""<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Whois {html.escape(address)}</title></head>
<body>
<div class="df-block">
<div class="df-heading">Domain Information</div>
<div class="df-row"><div class="df-label">Domain:</div><div class="df-value">{html.escape(address)}</div></div>
</div>
<div class="df-block-raw"><pre class="df-raw" id="registrarData">{record}</pre></div>
<pre class="footer-note">Note: a second pre element.</pre>
</body>
</html>
"""


def other_layout_page(address):
    return f"""<!DOCTYPE html>
<html><head><title>No record</title></head>
<body><p>Sorry: no whois record for {html.escape(address)} on this page layout.</p></body></html>
"""


class WhoisServer:
    """Serves the three sites under /site1/whois/, /site2/ and /site3/ui?queryinput= and keeps
    the requests it got."""

    def __init__(self):
        self.requests = []  # (path, user agent)
        self.lock = threading.Lock()
        # A page whose answer waits until the test releases it (bounded).
        self.held_path = None
        self.held = threading.Event()
        self.released = threading.Event()
        owner = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                with owner.lock:
                    owner.requests.append((self.path, self.headers.get("User-Agent", "")))
                    hold = self.path == owner.held_path
                if hold:
                    owner.held.set()
                    owner.released.wait(HOLD_TIMEOUT)
                status, page = owner.page_for(self.path)
                data = page.encode("utf-8")
                self.send_response(status)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                try:
                    self.wfile.write(data)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # the program closed while the page was held back

            def log_message(self, *args):
                pass

        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def start(self):
        self.thread.start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()

    def hold(self, path):
        with self.lock:
            self.held_path = path
        self.held.clear()
        self.released.clear()

    def release(self):
        with self.lock:
            self.held_path = None
        self.released.set()

    def base(self):
        return f"http://127.0.0.1:{self.port}"

    def paths(self):
        with self.lock:
            return [path for path, _ in self.requests]

    def user_agents(self):
        with self.lock:
            return [agent for _, agent in self.requests]

    def page_for(self, path):
        if path.startswith("/site2/"):
            address = urllib.parse.unquote(path[len("/site2/"):])
            if address in DOMAIN_RECORDS:
                return 200, option2_page(address, DOMAIN_RECORDS[address])
            return 200, other_layout_page(address)
        if path.startswith("/site1/whois/"):
            address = urllib.parse.unquote(path[len("/site1/whois/"):])
            if address in SITE1_DOMAINS:
                return 200, option1_page(address, DOMAIN_RECORDS[address])
            return 200, other_layout_page(address)
        if path.startswith("/site3/ui?queryinput="):
            address = urllib.parse.unquote(path[len("/site3/ui?queryinput="):])
            lines = DOMAIN_RECORDS.get(address, [])
            return 200, ('<html><body><div id="maincontent">' +
                         "<br>".join(html.escape(l, quote=False) for l in lines) +
                         "</div></body></html>")
        return 404, "<html><body>Not found</body></html>"


# ---------------------------------------------------------------- settings file

# Port 43: what the local IANA refers each name to, and what the registry answers. example.net
# is referred to a registry that refuses every connection, so its row fails; "not an address"
# is refused before any server.
PORT43_ADDRESSES = ["example.com", "example.org", "192.0.2.1", "example.net", "not an address"]
PORT43_REGISTRY = "whois.registry.test"
PORT43_DOWN = "whois.down.test"
PORT43_ANSWERS = {
    "example.com": """Domain Name: EXAMPLE.COM
Registry Domain ID: 2336799_DOMAIN_COM-VRSN
Registrar WHOIS Server: whois.registry.test
Updated Date: 2024-08-14T07:01:34Z
Creation Date: 1995-08-14T04:00:00Z
Registry Expiry Date: 2025-08-13T04:00:00Z
Registrar: Example Registrar, Inc.
Registrar IANA ID: 376
Domain Status: clientDeleteProhibited
Domain Status: clientTransferProhibited
Name Server: A.IANA-SERVERS.NET
Name Server: B.IANA-SERVERS.NET
DNSSEC: signedDelegation
""",
    "example.org": 'No match for "EXAMPLE.ORG".\n',
    "192.0.2.1": """NetRange:       192.0.2.0 - 192.0.2.255
CIDR:           192.0.2.0/24
NetName:        TEST-NET-1
NetHandle:      NET-192-0-2-0-1
OrgName:        Example Documentation Network
Country:        US
OrgAbuseEmail:  abuse@example.net
""",
}


class Port43Server:
    """A port-43 server on 127.0.0.1 that answers each query line through `answer`."""

    def __init__(self, answer):
        class Handler(socketserver.StreamRequestHandler):
            def handle(self):
                query = self.rfile.readline(1000).decode("utf-8", "replace").strip()
                self.wfile.write(answer(query).replace("\n", "\r\n").encode("utf-8"))

        self.server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def iana_answer(query):
    # IANA is asked for the name or its top-level domain alone.
    registry = PORT43_DOWN if query.lower().split(".")[-1] == "net" else PORT43_REGISTRY
    return f"% IANA WHOIS server\n\nrefer:        {registry}\n"


def registry_answer(query):
    return PORT43_ANSWERS.get(query.lower(), "No match\n")


def closed_port():
    """A port on 127.0.0.1 nothing listens on."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_ini_group(path, group):
    """The keys of one group of a QSettings INI file, with the key's %-escapes and the value's
    quoting undone. Missing file: empty."""
    values = {}
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        return values
    current = None
    for raw in text.splitlines():
        line = raw.strip()
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            continue
        if current != group or "=" not in line:
            continue
        key, value = line.split("=", 1)
        key = urllib.parse.unquote(key.strip())
        value = value.strip()
        if len(value) >= 2 and value.startswith('"') and value.endswith('"'):
            value = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        values[key] = value
    return values


def file_identity(path):
    try:
        st = os.stat(path)
        return st.st_ino, st.st_mtime_ns, st.st_size
    except FileNotFoundError:
        return None


# ---------------------------------------------------------------- X display and input

class Screen:
    """The virtual display: window lookup, synthetic input and screenshots."""

    def __init__(self, name):
        self.d = xdisplay.Display(name)
        self.root = self.d.screen().root
        self.WM_PROTOCOLS = self.d.intern_atom("WM_PROTOCOLS")
        self.WM_DELETE_WINDOW = self.d.intern_atom("WM_DELETE_WINDOW")
        self.NET_WM_NAME = self.d.intern_atom("_NET_WM_NAME")
        self.UTF8_STRING = self.d.intern_atom("UTF8_STRING")

    def close(self):
        try:
            self.d.close()
        except Exception:
            pass

    # Windows ----------------------------------------------------------------

    def top_levels(self):
        """Mapped top-level windows that are not override-redirect (tool tips, menus and
        completion lists are), in stacking order, bottom first."""
        result = []
        try:
            children = self.root.query_tree().children
        except xerror.XError:
            return result
        for w in children:
            try:
                attrs = w.get_attributes()
                if attrs.map_state != X.IsViewable or attrs.override_redirect:
                    continue
            except xerror.XError:
                continue  # gone meanwhile
            result.append(w)
        return result

    def title(self, w):
        try:
            prop = w.get_full_property(self.NET_WM_NAME, self.UTF8_STRING)
            if prop is not None:
                value = prop.value
                return value.decode("utf-8") if isinstance(value, bytes) else str(value)
            name = w.get_wm_name()
            return name.decode("latin-1") if isinstance(name, bytes) else (name or "")
        except xerror.XError:
            return ""

    def is_viewable(self, w):
        try:
            return w.get_attributes().map_state == X.IsViewable
        except xerror.XError:
            return False

    def geometry(self, w):
        """Absolute position and size of the window's client area."""
        g = w.get_geometry()
        origin = w.translate_coords(self.root, 0, 0)
        return -origin.x, -origin.y, g.width, g.height

    # Input -------------------------------------------------------------------

    def move(self, x, y):
        xtest.fake_input(self.d, X.MotionNotify, x=int(x), y=int(y))
        self.d.sync()

    def click(self, x, y, button=1):
        self.move(x, y)
        xtest.fake_input(self.d, X.ButtonPress, button)
        xtest.fake_input(self.d, X.ButtonRelease, button)
        self.d.sync()

    def focus(self, w):
        # What a window manager does when a window is clicked or a dialog appears.
        w.set_input_focus(X.RevertToPointerRoot, X.CurrentTime)
        self.d.sync()

    def _keycode(self, keysym):
        for keycode, index in self.d.keysym_to_keycodes(keysym):
            if index in (0, 1):
                return keycode, index == 1
        raise Failure(f"no key on the virtual keyboard gives keysym {keysym:#x}")

    def key(self, keysym_name, modifiers=()):
        keysym = XK.string_to_keysym(keysym_name)
        if not keysym:
            raise Failure(f"unknown key {keysym_name}")
        keycode, _ = self._keycode(keysym)
        mods = [self._keycode(XK.string_to_keysym(m))[0] for m in modifiers]
        for m in mods:
            xtest.fake_input(self.d, X.KeyPress, m)
        xtest.fake_input(self.d, X.KeyPress, keycode)
        xtest.fake_input(self.d, X.KeyRelease, keycode)
        for m in reversed(mods):
            xtest.fake_input(self.d, X.KeyRelease, m)
        self.d.sync()

    def type_text(self, text):
        shift = self._keycode(XK.XK_Shift_L)[0]
        for ch in text:
            if not (0x20 <= ord(ch) <= 0x7E):
                raise Failure(f"cannot type {ch!r}")
            # Latin-1 characters have keysyms equal to their code points.
            keycode, shifted = self._keycode(ord(ch))
            if shifted:
                xtest.fake_input(self.d, X.KeyPress, shift)
            xtest.fake_input(self.d, X.KeyPress, keycode)
            xtest.fake_input(self.d, X.KeyRelease, keycode)
            if shifted:
                xtest.fake_input(self.d, X.KeyRelease, shift)
            self.d.sync()

    def drag(self, x0, y0, x1, y1, steps=10):
        self.move(x0, y0)
        xtest.fake_input(self.d, X.ButtonPress, 1)
        self.d.sync()
        for i in range(1, steps + 1):
            self.move(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps)
            time.sleep(0.02)
        xtest.fake_input(self.d, X.ButtonRelease, 1)
        self.d.sync()

    def send_close(self, w):
        """The close request a window manager sends when the user closes a window."""
        event = protocol.event.ClientMessage(
            window=w, client_type=self.WM_PROTOCOLS,
            data=(32, [self.WM_DELETE_WINDOW, X.CurrentTime, 0, 0, 0]))
        w.send_event(event, event_mask=X.NoEventMask)
        self.d.sync()

    # Pictures ----------------------------------------------------------------

    def grab(self, w=None):
        """The window's (or the whole screen's) pixels as a PIL image."""
        w = w or self.root
        g = w.get_geometry()
        raw = w.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF)
        return PIL.Image.frombytes("RGB", (g.width, g.height), raw.data, "raw", "BGRX")


# ---------------------------------------------------------------- the test run

class Run:
    def __init__(self, args):
        self.args = args
        self.program = os.path.abspath(args.program)
        self.work = os.path.abspath(args.work_dir)
        os.makedirs(self.work, exist_ok=True)
        self.temp = tempfile.mkdtemp(prefix="quorvane-e2e-")
        self.config = os.path.join(self.temp, "config")
        self.home = os.path.join(self.temp, "home")
        os.makedirs(self.config)
        os.makedirs(self.home)
        self.runtime = os.path.join(self.temp, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.ini = os.path.join(self.config, "Ferrowick", "Quorvane.ini")
        self.program_logs = []
        self.xvfb_log = os.path.join(self.work, "e2e-xvfb.log")
        self.xvfb = None
        self.proc = None
        self.screen = None
        self.server = WhoisServer()
        self.main = None
        self.started = time.monotonic()
        self.results_path = os.path.join(self.temp, "results.txt")

    # Helpers ------------------------------------------------------------------

    def step(self, text):
        print(f"[{time.monotonic() - self.started:6.2f}s] {text}", flush=True)

    def wait_for(self, what, predicate, timeout, interval=0.05, program_may_exit=False):
        deadline = time.monotonic() + timeout
        while True:
            result = predicate()
            if result:
                return result
            if not program_may_exit and self.proc is not None and self.proc.poll() is not None:
                raise Failure(f"the program ended (exit code {self.proc.returncode}) "
                              f"while waiting for {what}")
            if time.monotonic() >= deadline:
                raise Failure(f"timed out after {timeout} s waiting for {what}")
            time.sleep(interval)

    def settings(self):
        return read_ini_group(self.ini, "Quorvane")

    def centre(self, name):
        x, y, w, h = control_rect(name)
        wx, wy, _, _ = self.screen.geometry(self.main)
        return wx + x + w // 2, wy + y + h // 2

    def click_control(self, name):
        self.screen.click(*self.centre(name))

    def dialogs(self):
        main = self.main.id if self.main is not None else None
        return [w for w in self.screen.top_levels() if w.id != main]

    def wait_dialog(self, what, timeout=DIALOG_TIMEOUT):
        """A newly shown top-level window other than the main window, focused as a window
        manager would focus it."""
        found = self.wait_for(what, lambda: self.dialogs(), timeout)
        dialog = found[-1]
        self.wait_for(f"{what} to be drawn", lambda: self.drawn(dialog), timeout)
        self.screen.focus(dialog)
        return dialog

    def wait_dialog_gone(self, dialog, what, timeout=DIALOG_TIMEOUT):
        self.wait_for(f"{what} to close", lambda: not self.screen.is_viewable(dialog), timeout)

    def drawn(self, w):
        """True once the window shows more than one colour (Qt has painted it)."""
        try:
            image = self.screen.grab(w)
        except xerror.XError:
            return False
        colours = image.getcolors(maxcolors=4)
        return colours is None or len(colours) > 1

    def stable_picture(self, w, timeout=10):
        """The window's picture once two grabs 0.2 s apart agree."""
        last = self.screen.grab(w)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            time.sleep(0.2)
            now = self.screen.grab(w)
            if now.tobytes() == last.tobytes():
                return now
            last = now
        return last

    def expect(self, condition, message):
        if not condition:
            raise Failure(message)

    # Set-up and tear-down ---------------------------------------------------------

    def start_xvfb(self):
        xvfb = shutil.which("Xvfb")
        if not xvfb:
            raise Failure("Xvfb is not installed (Debian package xvfb; scripts/setup.sh installs it)")
        read_end, write_end = os.pipe()
        with open(self.xvfb_log, "wb") as log:
            # -displayfd: the server picks a free display number itself and writes it here.
            self.xvfb = subprocess.Popen(
                [xvfb, "-displayfd", str(write_end), "-screen", "0",
                 f"{SCREEN_WIDTH}x{SCREEN_HEIGHT}x24", "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + START_TIMEOUT
        try:
            while not number.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                if remaining <= 0 or self.xvfb.poll() is not None:
                    raise Failure("Xvfb did not start; see " + self.xvfb_log)
                ready, _, _ = select.select([read_end], [], [], remaining)
                if ready:
                    chunk = os.read(read_end, 16)
                    if not chunk:
                        raise Failure("Xvfb did not report its display; see " + self.xvfb_log)
                    number += chunk
        finally:
            os.close(read_end)
        self.display = ":" + number.decode().strip()
        self.screen = Screen(self.display)
        self.step(f"Xvfb on display {self.display}")

    def start_program(self, ping_command="echo bytes=32", config=None, extra_env=None):
        env = {k: v for k, v in os.environ.items()
               if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP",
                            "DESKTOP_SESSION", "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE",
                            "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS")}
        base = self.server.base()
        env.update({
            "DISPLAY": self.display,
            "HOME": self.home,
            "XDG_CONFIG_HOME": config or self.config,
            "XDG_CACHE_HOME": os.path.join(self.temp, "cache"),
            "XDG_DATA_HOME": os.path.join(self.temp, "data"),
            "XDG_RUNTIME_DIR": self.runtime,
            "QUORVANE_NO_HOMEPAGE": "1",
            "QUORVANE_PING_COMMAND": ping_command,
            "QUORVANE_SITE1_URL": base + "/site1/whois/",
            "QUORVANE_SITE2_URL": base + "/site2/",
            "QUORVANE_SITE3_URL": base + "/site3/ui?queryinput=",
            "NO_AT_BRIDGE": "1",
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            # The local server must not be reached through a proxy of the environment.
            "no_proxy": "127.0.0.1,localhost",
            "NO_PROXY": "127.0.0.1,localhost",
        })
        for proxy in ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                      "ALL_PROXY"):
            env.pop(proxy, None)
        env.update(extra_env or {})
        log_path = os.path.join(self.work, f"e2e-program-{len(self.program_logs) + 1}.log")
        self.program_logs.append(log_path)
        with open(log_path, "wb") as log:
            self.proc = subprocess.Popen([self.program], env=env, cwd=self.temp,
                                         stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                                         start_new_session=True)
        self.step(f"started {self.program} (pid {self.proc.pid})")

    def find_main_window(self):
        def main_window():
            for w in self.screen.top_levels():
                if self.screen.title(w) == "Quorvane":
                    _, _, width, height = self.screen.geometry(w)
                    if (width, height) == (CLIENT_WIDTH, CLIENT_HEIGHT):
                        return w
            return None

        self.main = self.wait_for("the main window \"Quorvane\"", main_window, START_TIMEOUT,
                                  interval=0.1)
        self.wait_for("the main window to be drawn", lambda: self.drawn(self.main), START_TIMEOUT)
        x, y, w, h = self.screen.geometry(self.main)
        self.step(f"main window 0x{self.main.id:x} at {x},{y} size {w}x{h}")
        # Centred on the screen, give or take the rounding of the centre (no window manager:
        # the client area is the whole window).
        self.expect(abs(x - (SCREEN_WIDTH - w) / 2) <= 1 and abs(y - (SCREEN_HEIGHT - h) / 2) <= 1,
                    f"the window is not centred: at {x},{y}")
        self.expect(not self.dialogs(), "a dialog is open at start-up (connectivity warning?)")

    def cleanup(self):
        if self.proc is not None and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(timeout=10)
        if self.screen is not None:
            self.screen.close()
        if self.xvfb is not None and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait(timeout=10)
        self.server.stop()
        shutil.rmtree(self.temp, ignore_errors=True)

    def failure_screenshot(self):
        if self.screen is None:
            return
        path = os.path.join(self.work, "e2e-failure.png")
        try:
            self.screen.grab().save(path)
            print(f"screenshot of the display: {path}", flush=True)
        except Exception as e:  # the display may be gone with the failure
            print(f"no screenshot: {e}", flush=True)

    # The scenario -------------------------------------------------------------------

    def add_address(self, address, expected_list):
        self.click_control("PushButton5")
        prompt = self.wait_dialog("the input prompt of \"Add Domain/IP Address\"")
        self.expect(self.screen.title(prompt) == "Quorvane",
                    f"the prompt's caption is {self.screen.title(prompt)!r}")
        self.screen.type_text(address)
        self.screen.key("Return")
        self.wait_dialog_gone(prompt, "the input prompt")
        # The list is written to the settings file within a second of a change.
        self.wait_for(f"the settings to list {expected_list}",
                      lambda: self.settings().get("IP Addresses") == ";".join(expected_list),
                      DIALOG_TIMEOUT)
        self.step(f"added {address}")

    def set_delay(self, text):
        self.click_control("Text1")
        self.screen.focus(self.main)
        self.screen.key("a", modifiers=("Control_L",))
        self.screen.type_text(text)
        # Keystrokes write nothing; Enter ends the edit, which writes the delay.
        self.expect(self.settings().get("Text1") != text,
                    f"the delay {text!r} was written before its edit ended")
        self.screen.key("Return")
        self.wait_for(f"the delay {text!r} in the settings",
                      lambda: self.settings().get("Text1") == text, DIALOG_TIMEOUT)
        self.step(f"delay set to {text}")

    def look_up(self, expected_paths, while_first_page_loads=None):
        """Starts a run, optionally does more while its first page is held back by the server,
        and returns the "Done." message box."""
        before = len(self.server.paths())
        if while_first_page_loads:
            self.server.hold(expected_paths[0])
        try:
            self.click_control("PushButton4")
            if while_first_page_loads:
                self.wait_for("the first page of the run to be asked for", self.server.held.is_set,
                              RUN_TIMEOUT)
                while_first_page_loads()
        finally:
            self.server.release()
        done = self.wait_dialog("the \"Done.\" message of the lookup run", RUN_TIMEOUT)
        paths = self.server.paths()[before:]
        self.expect(paths == expected_paths,
                    f"pages asked for: {paths}, expected {expected_paths}")
        self.expect(self.screen.title(done) == "Quorvane",
                    f"the message's caption is {self.screen.title(done)!r}")
        self.step(f"lookup run done: {len(paths)} pages fetched")
        return done

    def meddle_with_run(self):
        """What a user may try while a run is under way: the run refuses to let its site, its
        list or its table change, but takes new addresses (for a later run)."""
        self.click_control("Option3")       # the sites are disabled during a run
        self.click_control("PushButton11")  # "Clear List" is refused while busy
        self.click_control("PushButton9")   # "Clear Results" is refused during a run
        # The prompt opening also shows that the clicks before it have been handled.
        self.add_address(LATE_ADDRESS, ADDRESSES + [LATE_ADDRESS])
        self.step("during the run: other site, Clear List, Clear Results clicked; address added")

    def save_results(self, path, overwrite=False):
        before = file_identity(path)
        self.click_control("PushButton6")
        chooser = self.wait_dialog("the save dialog")
        self.expect(self.screen.title(chooser) == "Save",
                    f"the save dialog's caption is {self.screen.title(chooser)!r}")
        # The file-name field has the focus; select what it holds and type over it.
        self.screen.key("a", modifiers=("Control_L",))
        self.screen.type_text(path)
        # Enter closes the field's completion list, if one shows, and accepts the name typed
        # (nothing in the list is selected); a wrong name shows in the file check below.
        self.screen.key("Return")
        self.wait_dialog_gone(chooser, "the save dialog")
        if overwrite:
            # The program asks itself before it replaces a file; Enter takes the default, Yes.
            question = self.wait_dialog("the question whether to overwrite the file")
            self.expect(self.screen.title(question) == "Quorvane",
                        f"the question's caption is {self.screen.title(question)!r}")
            self.screen.key("Return")
            self.wait_dialog_gone(question, "the overwrite question")
        # The file is replaced in one step when complete, so a new identity means it is there.
        self.wait_for(f"the results file {path} to be written",
                      lambda: file_identity(path) not in (None, before), DIALOG_TIMEOUT)
        self.step(f"results saved to {path}")

    def show_help(self):
        self.click_control("PushButton7")
        note = self.wait_dialog("the note of the \"?\" button")
        self.expect(self.screen.title(note) == "Quorvane",
                    f"the note's caption is {self.screen.title(note)!r}")
        self.screen.key("Return")
        self.wait_dialog_gone(note, "the note")
        self.step("note of the \"?\" button shown and closed")

    def load_list_file(self, path, expected_list):
        self.click_control("PushButton3")
        chooser = self.wait_dialog("the open dialog of \"Load List From Text File\"")
        title = self.screen.title(chooser)
        self.expect(title == "Load List(s) - Hold Ctrl to select multiple list files",
                    f"the open dialog's caption is {title!r}")
        self.screen.key("a", modifiers=("Control_L",))
        self.screen.type_text(path)
        self.screen.key("Return")
        self.wait_dialog_gone(chooser, "the open dialog")
        self.wait_for(f"the settings to list {expected_list}",
                      lambda: self.settings().get("IP Addresses") == ";".join(expected_list),
                      DIALOG_TIMEOUT)
        self.step(f"list file {path} loaded")

    def choose_site(self, option, caption):
        self.click_control(option)
        self.step(f"site {caption} chosen")

    def close_window(self):
        self.screen.send_close(self.main)
        self.wait_for("the program to end after its window was closed",
                      lambda: self.proc.poll() is not None, EXIT_TIMEOUT, program_may_exit=True)
        self.step(f"program ended with exit code {self.proc.returncode}")

    def scenario(self):
        self.server.start()
        self.start_xvfb()
        self.first_session()
        self.second_session()
        self.offline_session()
        self.port43_session()

    def first_session(self):
        self.start_program()
        self.find_main_window()
        self.expect(self.settings().get("Text1") == "7",
                    f"first start: delay in the settings is {self.settings().get('Text1')!r}")

        # Samples in, picture for the README, then the list emptied again.
        self.click_control("PushButton1")
        samples = ["www.debian.org", "wikipedia.org", "8.8.8.8"]
        self.wait_for("the sample addresses in the settings",
                      lambda: self.settings().get("IP Addresses") == ";".join(samples),
                      DIALOG_TIMEOUT)
        self.step("sample addresses loaded")
        if self.args.screenshots:
            self.screen.move(5, 5)  # no hover highlight in the picture
            self.save_picture("window.png")
        self.click_control("PushButton11")
        self.wait_for("the emptied list in the settings",
                      lambda: self.settings().get("IP Addresses") == "", DIALOG_TIMEOUT)
        self.step("list cleared")

        added = []
        for address in ADDRESSES:
            added.append(address)
            self.add_address(address, added)
        self.set_delay("0")

        done = self.look_up(["/site2/" + a for a in ADDRESSES])
        agents = self.server.user_agents()
        self.expect(all(a.startswith("Mozilla/") for a in agents),
                    f"the pages were not asked for with a browser's User-Agent: {agents}")
        self.screen.key("Return")
        self.wait_dialog_gone(done, "the \"Done.\" message")

        if self.args.screenshots:
            self.screen.move(5, 5)
            self.save_picture("run.png")

        self.save_results(self.results_path)
        self.check_results_file(self.results_path, EXPECTED_ROWS)

        # A second run on the first site, saved over the first file.
        self.choose_site("Option1", "www.whois.com")
        done = self.look_up(["/site1/whois/" + a for a in ADDRESSES], self.meddle_with_run)
        self.screen.key("Return")
        self.wait_dialog_gone(done, "the \"Done.\" message")
        self.save_results(self.results_path, overwrite=True)
        self.check_results_file(self.results_path, EXPECTED_ROWS_SITE1)

        self.show_help()

        # An emptied table saves as an empty file.
        self.click_control("PushButton9")
        self.save_results(self.results_path, overwrite=True)
        size = os.path.getsize(self.results_path)
        self.expect(size == 0, f"the results file of an emptied table has {size} bytes")
        self.step("emptied table saved as an empty file")

        list_file = os.path.join(self.temp, "more.txt")
        with open(list_file, "wb") as f:
            f.write(LIST_FILE_BYTES)
        self.load_list_file(list_file, ADDRESSES + [LATE_ADDRESS] + LIST_FILE_ADDRESSES)

        self.close_window()
        self.expect(self.proc.returncode == 0,
                    f"the program ended with exit code {self.proc.returncode}")
        self.check_settings()

    def second_session(self):
        """A restart finds the list, the delay and the site chosen before again; the window
        closed while a page of a run is still loading ends the program cleanly."""
        self.start_program()
        self.find_main_window()
        # Start-up writes the restored delay back; a lost one would come back as "7".
        self.check_settings()
        everything = ADDRESSES + [LATE_ADDRESS] + LIST_FILE_ADDRESSES
        before = len(self.server.paths())
        self.server.hold("/site1/whois/" + everything[0])
        try:
            self.click_control("PushButton4")
            first = self.wait_for("the first page of the run after the restart",
                                  lambda: self.server.paths()[before:], RUN_TIMEOUT)
            self.expect(first[0] == "/site1/whois/" + everything[0],
                        f"the first page after the restart is {first[0]}, expected the site "
                        f"chosen before and the first restored address")
            self.step("run on the site chosen before started from the restored list")
            self.close_window()
        finally:
            self.server.release()
        self.expect(self.proc.returncode == 0,
                    f"the program closed during a run ended with exit code {self.proc.returncode}")
        self.check_settings()

    def offline_session(self):
        """Without a network the program warns before its window shows, then starts as usual."""
        self.start_program(ping_command="false")
        self.main = None
        warning = self.wait_dialog("the offline warning before the window", START_TIMEOUT)
        _, _, width, height = self.screen.geometry(warning)
        self.expect(self.screen.title(warning) == "Quorvane" and
                    (width, height) != (CLIENT_WIDTH, CLIENT_HEIGHT),
                    f"the first window of an offline start is {self.screen.title(warning)!r} "
                    f"{width}x{height}, not the warning")
        self.screen.key("Return")
        self.wait_dialog_gone(warning, "the offline warning")
        self.step("offline warning shown and closed")
        self.find_main_window()
        self.close_window()
        self.expect(self.proc.returncode == 0,
                    f"the program started offline ended with exit code {self.proc.returncode}")
        self.check_settings()

    def port43_session(self):
        """The source kept as WHOIS (port 43): a run against a local IANA and registry fills the
        summary columns; after it the caption keeps the counts."""
        iana = Port43Server(iana_answer)
        registry = Port43Server(registry_answer)
        try:
            config = os.path.join(self.temp, "config-port43")
            os.makedirs(os.path.join(config, "Ferrowick"))
            with open(os.path.join(config, "Ferrowick", "Quorvane.ini"), "w") as f:
                f.write("[Quorvane]\nIP Addresses=\"" + ";".join(PORT43_ADDRESSES) +
                        "\"\nText1=0\nSource=whois\n")
            connect_to = ",".join([f"whois.iana.org:43:127.0.0.1:{iana.port}",
                                   f"{PORT43_REGISTRY}:43:127.0.0.1:{registry.port}",
                                   f"{PORT43_DOWN}:43:127.0.0.1:{closed_port()}"])
            self.start_program(config=config, extra_env={"QUORVANE_CONNECT_TO": connect_to})
            self.find_main_window()
            if self.args.screenshots:
                # Wide enough to show the first summary columns, and whole on the screen.
                self.main.configure(x=(SCREEN_WIDTH - 1240) // 2, width=1240)
                self.screen.d.sync()
                self.wait_for("the wider window",
                              lambda: self.screen.geometry(self.main)[2] == 1240, DIALOG_TIMEOUT)
            self.click_control("PushButton4")
            done = self.wait_dialog("the \"Done.\" message of the port-43 run", RUN_TIMEOUT)
            self.screen.key("Return")
            self.wait_dialog_gone(done, "the \"Done.\" message")
            n = len(PORT43_ADDRESSES)
            caption = f"Quorvane - {n} of {n}, 2 failed"
            self.expect(self.screen.title(self.main) == caption,
                        f"the caption after the port-43 run is "
                        f"{self.screen.title(self.main)!r}, not {caption!r}")
            self.step(f"port-43 run done, the caption reads {caption!r}")
            if self.args.screenshots:
                self.screen.move(5, 5)
                self.save_picture("summary.png")
            self.close_window()
        finally:
            iana.stop()
            registry.stop()

    def save_picture(self, name):
        os.makedirs(self.args.screenshots, exist_ok=True)
        path = os.path.join(self.args.screenshots, name)
        self.stable_picture(self.main).save(path, optimize=True)
        self.step(f"picture of the window: {path}")

    # Checks ---------------------------------------------------------------------------

    def check_results_file(self, path, expected_rows):
        with open(path, "rb") as f:
            data = f.read()
        self.expect(data.endswith(b"\r\n"), f"the results file does not end with CR LF: {data!r}")
        lines = data[:-2].split(b"\r\n")
        self.expect(all(b"\r" not in l and b"\n" not in l for l in lines),
                    f"stray line ends in the results file: {data!r}")
        expected = ["\t".join(row) for row in expected_rows]
        got = [l.decode("utf-8") for l in lines]
        if got != expected:
            report = [f"results file {path} differs:"]
            for i in range(max(len(got), len(expected))):
                g = got[i].split("\t") if i < len(got) else None
                e = expected[i].split("\t") if i < len(expected) else None
                report.append(f"  line {i + 1}: got      {g}")
                report.append(f"  line {i + 1}: expected {e}")
            raise Failure("\n".join(report))
        self.step(f"results file: {len(lines)} lines, {len(expected_rows[0])} columns, as expected")

    def check_settings(self):
        values = self.settings()
        expected_list = ADDRESSES + [LATE_ADDRESS] + LIST_FILE_ADDRESSES
        self.expect(values.get("IP Addresses") == ";".join(expected_list),
                    f"\"IP Addresses\" in {self.ini} is {values.get('IP Addresses')!r}")
        self.expect(values.get("Text1") == "0", f"\"Text1\" in {self.ini} is {values.get('Text1')!r}")
        self.expect(values.get("Source") == "site1",
                    f"\"Source\" in {self.ini} is {values.get('Source')!r}, not site1")
        size = f"{CLIENT_WIDTH}x{CLIENT_HEIGHT}"
        self.expect(values.get("WindowSize") == size,
                    f"\"WindowSize\" in {self.ini} is {values.get('WindowSize')!r}, not {size}")
        self.step("settings file as expected")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="the quorvane executable")
    parser.add_argument("--work-dir", required=True, help="folder for logs and failure pictures")
    parser.add_argument("--screenshots",
                        help="also save window.png, run.png and summary.png in this folder")
    args = parser.parse_args()

    def terminated(signum, _frame):
        raise Failure(f"stopped by signal {signum}")

    # A test harness that gives up on the test still gets the program and Xvfb stopped.
    signal.signal(signal.SIGTERM, terminated)
    signal.signal(signal.SIGHUP, terminated)

    run = Run(args)
    try:
        run.scenario()
    except BaseException as e:
        if isinstance(e, Failure):
            print(f"FAILED: {e}", flush=True)
        else:
            traceback.print_exc()
            print(f"FAILED: {type(e).__name__}: {e}", flush=True)
        run.failure_screenshot()
        run.cleanup()
        for log in run.program_logs:
            if os.path.exists(log):
                with open(log, errors="replace") as f:
                    print(f"---- {log}\n{f.read()}----", flush=True)
        return 1
    run.cleanup()
    print(f"PASSED in {time.monotonic() - run.started:.1f} s", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
