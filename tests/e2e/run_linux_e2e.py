#!/usr/bin/python3
"""Runs the scenarios of scenarios.txt against the Linux updater: for each one the
emulated programming unit starts with the real program as its child, on the X
display given by DISPLAY, and this script drives the dialog from outside through
the accessibility bus (AT-SPI), as a user with a screen reader would see it: the
hint pane's text, the version rows, the Update button's state, message boxes and
their buttons, the progress window. Plugging, faults and the flash check go to
the emulator's control FIFOs. Expected texts come from the resource script.

    run_linux_e2e.py --emulator EMU --updater PROGRAM --screenshots DIR --work DIR
                     [--scenarios TABLE] [--only NAME[:LANG]]... [--except NAME[:LANG]]...

Exit code 0 when every scenario passed, 1 when any did not (a scenario ends at
its first mismatch, the others still run), 77 without an X display (skipped).
E2E_WAIT_S shortens or lengthens the default wait of 20 s.

The session bus of the run also carries what the updater shows outside its
windows: a bus monitor records the launcher-entry signals and notification
requests, and a mock notification daemon answers them and keeps a log, which the
"desktop" steps read and which lands beside the screenshots."""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "res"))
import generate_resource_data  # noqa: E402
from emulator_control import ControlError, ControlLink  # noqa: E402
from scenario_file import parse_scenarios  # noqa: E402

SKIPPED = 77
DEFAULT_WAIT_S = float(os.environ.get("E2E_WAIT_S", "20"))
POLL_S = 0.1
LONG_POLL_S = 1.0
BUS_MARK = "VESPRA_E2E_PRIVATE_BUS"
LOCALES = {"en": "en_US.UTF-8", "de": "de_DE.UTF-8"}
LANGUAGE_IDS = {"en": 9, "de": 7}  # primary language of the resource script's LANGUAGE


def resource_ids(header):
    """Every numeric ID the resource header defines, by name."""
    preprocessor = generate_resource_data.Preprocessor()
    preprocessor.run(header)
    return {name: tokens[0].value for name, tokens in preprocessor.macros.items()
            if len(tokens) == 1 and tokens[0].kind == "num"}


IDS = resource_ids(os.path.join(SOURCE, "res", "resource_ids.h"))
INSTRUCTIONS = IDS["IDS_INSTRUCTIONS"]
CODE_LINE = IDS["IDS_ERROR_CODE_LINE"]
PROGRESS_TITLE = IDS["IDS_PROGRESS_TITLE"]
PANE, UPDATE, CLOSE = IDS["IDC_STATUS_PANE"], IDS["IDC_UPDATE"], IDS["IDC_CLOSE"]
CAPTIONS = {row: IDS[f"IDC_ROW{row}_CAPTION"] for row in (1, 2, 3)}
VALUES = {row: IDS[f"IDC_ROW{row}_VALUE"] for row in (1, 2, 3)}
LOGIND = "org.freedesktop.login1"
PORTAL = "org.freedesktop.portal.Desktop"
PORTAL_FLAGS = 1 | 2 | 4 | 8  # logout, user switch, suspend, idle
INHIBITED = ("shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:"
             "handle-lid-switch")
GUARD_REASON = IDS["IDS_UPDATE_GUARD_REASON"]
BUTTONS = {"ok": {"OK"}, "cancel": {"Cancel", "Abbrechen"}, "yes": {"Yes", "Ja"},
           "no": {"No", "Nein"}}


class Mismatch(Exception):
    pass


def load_strings(script):
    _, parser = generate_resource_data.load(script)
    strings = {}
    for (language, string_id), text in parser.strings.items():
        for name, primary in LANGUAGE_IDS.items():
            if language & 0x3FF == primary:
                strings[(name, string_id)] = text
    return strings


def model_name(path):
    with open(path, encoding="utf-8") as source:
        found = re.search(r'CONTROLLER_MODEL_NAME\[\]\s*=\s*u"([^"]*)"', source.read())
    if not found:
        raise SystemExit(f"{path}: no CONTROLLER_MODEL_NAME")
    return found.group(1)


def screen_text(text):
    # The screen shows "\r\n" as one line break; a text document may hand out
    # paragraph separators for them.
    return text.replace("\r\n", "\n").replace("\u2029", "\n").replace("\u2028", "\n")


class Emulator:
    """The emulated unit with the updater as its child, and its control FIFOs."""

    def __init__(self, args, scenario, work, env):
        self.control = os.path.join(work, "control")
        self.log = os.path.join(work, "emulated_unit.log")
        command = [args.emulator]
        for option in scenario["unit"]:
            command += ["--unit", option]
        self.flash_at_end = os.path.join(work, "flash-at-end.bin")
        command += ["--control", self.control, "--log", self.log,
                    "--flash-at-end", self.flash_at_end, "--", args.updater]
        self.process = subprocess.Popen(command, env=env)
        self.link = ControlLink(self.control, alive=lambda: self.process.poll() is None)

    def command(self, line, wait_s=DEFAULT_WAIT_S):
        try:
            return self.link.ask(line, wait_s)
        except ControlError as problem:
            raise Mismatch(str(problem))

    def stop(self):
        if self.process.poll() is None:
            try:
                self.command("quit", wait_s=5)
            except (Mismatch, OSError):
                pass
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.terminate()
                try:
                    self.process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
        self.link.close()


class SystemBus:
    """A private bus standing in for the system bus, with python3-dbusmock's
    logind on it unless the scenario wants none."""

    def __init__(self, work, logind):
        self.processes = []
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                  stdout=subprocess.PIPE, text=True)
        self.processes.append(daemon)
        self.address = daemon.stdout.readline().strip()
        from gi.repository import Gio
        self.bus = Gio.DBusConnection.new_for_address_sync(
            self.address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        if logind:
            log = open(os.path.join(work, "logind.log"), "w")
            self.processes.append(subprocess.Popen(
                [sys.executable, "-m", "dbusmock", "--system", "--template", "logind"],
                env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address),
                stdout=log, stderr=subprocess.STDOUT))
            wait_for("logind on the private system bus",
                     lambda: (self.has_owner(LOGIND), None), DEFAULT_WAIT_S)

    def has_owner(self, name):
        from gi.repository import GLib
        reply = self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "NameHasOwner",
                                   GLib.Variant("(s)", (name,)), GLib.VariantType.new("(b)"),
                                   0, 5000, None)
        return reply.unpack()[0]

    def inhibitors(self):
        from gi.repository import GLib
        reply = self.bus.call_sync(LOGIND, "/org/freedesktop/login1",
                                   "org.freedesktop.login1.Manager", "ListInhibitors", None,
                                   GLib.VariantType.new("(a(ssssuu))"), 0, 5000, None)
        return reply.unpack()[0]

    def stop(self):
        self.bus.close_sync(None)
        for process in reversed(self.processes):
            end_process(process)


class DesktopPortal:
    """A stand-in for the desktop portal's Inhibit on the session bus
    (python3-dbusmock), which notes the requests and their closing."""

    PATH = "/org/freedesktop/portal/desktop"
    REQUEST = "/org/freedesktop/portal/desktop/request/vespra"
    MOCK = "org.freedesktop.DBus.Mock"

    def __init__(self, work):
        from gi.repository import Gio, GLib
        log = open(os.path.join(work, "portal.log"), "w")
        self.process = subprocess.Popen(
            [sys.executable, "-m", "dbusmock", "--session", PORTAL, self.PATH,
             "org.freedesktop.portal.Inhibit"], stdout=log, stderr=subprocess.STDOUT)
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        wait_for("the desktop portal on the session bus",
                 lambda: (self.registered(), None), DEFAULT_WAIT_S)
        self.mock(self.PATH, "AddMethod",
                  GLib.Variant("(sssss)", ("org.freedesktop.portal.Inhibit", "Inhibit", "sua{sv}",
                                           "o", f"ret = dbus.ObjectPath('{self.REQUEST}')")))
        self.mock(self.PATH, "AddObject",
                  GLib.Variant("(ssa{sv}a(ssss))", (self.REQUEST, "org.freedesktop.portal.Request",
                                                    {}, [("Close", "", "", "")])))

    def registered(self):
        from gi.repository import GLib
        reply = self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "NameHasOwner",
                                   GLib.Variant("(s)", (PORTAL,)), GLib.VariantType.new("(b)"),
                                   0, 5000, None)
        return reply.unpack()[0]

    def mock(self, path, method, arguments=None, reply_type=None):
        from gi.repository import GLib
        reply = self.bus.call_sync(PORTAL, path, self.MOCK, method, arguments,
                                   GLib.VariantType.new(reply_type) if reply_type else None,
                                   0, 5000, None)
        return reply.unpack() if reply_type else None

    def open_requests(self):
        """The Inhibit calls not closed yet, each as (flags, reason)."""
        calls = self.mock(self.PATH, "GetCalls", None, "(a(tsav))")[0]
        inhibits = [(args[1], args[2].get("reason")) for _, name, args in calls
                    if name == "Inhibit"]
        closes = [name for _, name, _ in self.mock(self.REQUEST, "GetCalls", None, "(a(tsav))")[0]
                  if name == "Close"]
        return inhibits[len(closes):]

    def stop(self):
        self.process.terminate()
        self.process.wait()


def end_process(process):
    """Asks a helper process to end, and makes it end if it does not in 5 s."""
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def descends_from(pid, ancestor):
    while pid > 1:
        if pid == ancestor:
            return True
        try:
            with open(f"/proc/{pid}/stat") as stat:
                pid = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            return False
    return False


def children(accessible):
    try:
        count = accessible.get_child_count()
    except Exception:
        return []
    found = []
    for index in range(count):
        try:
            child = accessible.get_child_at_index(index)
        except Exception:
            child = None
        if child is not None:
            found.append(child)
    return found


def descendants(accessible):
    for child in children(accessible):
        yield child
        yield from descendants(child)


def safe(call, default=None):
    # The program answers the bus from its GUI thread; while that thread sits in
    # a blocking step a call may time out, which only means "not yet".
    try:
        return call()
    except Exception:
        return default


class Dialog:
    """The updater as the accessibility bus shows it."""

    def __init__(self, atspi, root_pid):
        self.atspi = atspi
        self.root_pid = root_pid
        self.exclude = set()  # processes below root_pid that are not this dialog's
        self.app = None
        self.known = {}

    def application(self):
        if self.app is not None:
            return self.app
        desktop = self.atspi.get_desktop(0)
        for app in children(desktop):
            pid = safe(app.get_process_id, 0)
            if pid and descends_from(pid, self.root_pid) and not any(
                    descends_from(pid, other) for other in self.exclude):
                safe(lambda: app.set_cache_mask(self.atspi.Cache.NONE))
                self.app = app
                return app
        return None

    def windows(self):
        app = self.application()
        return children(app) if app is not None else []

    def main_dialog(self):
        for window in self.windows():
            for item in descendants(window):
                if safe(item.get_description) == str(PANE):
                    return window
        return None

    def control(self, control_id):
        # Found once and kept while it still answers as that control: a lookup
        # walks the tree, and every call is one the program answers from its
        # GUI thread, during an update's pauses too.
        known = self.known.get(control_id)
        if known is not None and safe(known.get_description) == str(control_id):
            return known
        window = self.main_dialog()
        if window is None:
            return None
        for item in descendants(window):
            if safe(item.get_description) == str(control_id):
                self.known[control_id] = item
                return item
        return None

    def text_of(self, control_id):
        item = self.control(control_id)
        if item is None:
            return None
        if control_id == PANE:
            count = safe(item.get_character_count)
            if count is None:
                return None
            text = safe(lambda: item.get_text(0, count))
            return None if text is None else screen_text(text)
        return safe(item.get_name)

    def enabled(self, control_id):
        item = self.control(control_id)
        states = safe(item.get_state_set) if item is not None else None
        if states is None:
            return None
        return states.contains(self.atspi.StateType.SENSITIVE)

    def boxes(self):
        """Every message box: (window, caption, texts of its labels)."""
        found = []
        for window in self.windows():
            if safe(window.get_role_name) not in ("alert", "dialog"):
                continue
            labels = [safe(item.get_name, "") for item in descendants(window)
                      if safe(item.get_role_name) == "label"]
            if any(safe(item.get_description) == str(PANE) for item in descendants(window)):
                continue
            found.append((window, safe(window.get_name, ""), labels))
        return found

    def press(self, window, kind):
        for item in descendants(window):
            if safe(item.get_role_name) != "push button":
                continue
            if safe(item.get_name, "").replace("&", "") in BUTTONS[kind]:
                item.do_action(0)
                return True
        return False

    def click(self, control_id):
        item = self.control(control_id)
        if item is None:
            return False
        # Sent once: a reply that comes late does not mean the press was lost,
        # and a second one would be a second click. The next step tells.
        safe(lambda: item.do_action(0))
        return True

    def process_id(self):
        app = self.application()
        return safe(app.get_process_id) if app is not None else None

    def send_keys(self, keys):
        """Keys sent to the main dialog's window through the X server."""
        window = self.main_dialog()
        title = safe(window.get_name) if window is not None else None
        pid = self.process_id()
        if not title or not pid:
            return False
        found = subprocess.run(["xdotool", "search", "--all", "--pid", str(pid), "--name",
                                "^" + re.escape(title) + "$"],
                               capture_output=True, text=True).stdout.split()
        for window_id in found:
            subprocess.run(["xdotool", "key", "--window", window_id] + keys, check=False)
        return bool(found)

    def window_titled(self, title):
        return any(safe(window.get_name) == title for window in self.windows())


def wait_for(what, probe, wait_s, process=None, poll_s=POLL_S):
    """Polls probe() -> (done, found) until done; a timeout, or the end of the
    process while waiting, raises with what was found last."""
    deadline = time.monotonic() + wait_s
    found = None
    while True:
        done, found = probe()
        if done:
            return found
        if process is not None and process.poll() is not None:
            raise Mismatch(f"expected {what}\n  found: the program ended "
                           f"(exit code {process.returncode}); last seen {found!r}")
        if time.monotonic() > deadline:
            raise Mismatch(f"expected {what}\n  found: {found!r}")
        time.sleep(poll_s)


LAUNCHER_INTERFACE = "com.canonical.Unity.LauncherEntry"
LAUNCHER_APP_URI = "application://vespra-updater.desktop"
NOTIFICATIONS = "org.freedesktop.Notifications"
# How long "no notification" is watched for after the outcome is on screen.
QUIET_S = 2.0


def bus_messages(text):
    """The messages of a dbus-monitor log: (header line, body lines) each."""
    messages = []
    for line in text.splitlines():
        if line and not line.startswith(" "):
            messages.append((line, []))
        elif messages:
            messages[-1][1].append(line.strip())
    return messages


def bus_values(body):
    """The basic values of a message body in order, as Python values: strings,
    numbers and booleans; containers are flattened."""
    values = []
    for line in body:
        found = re.match(r'(?:variant\s+)?(string|double|boolean|uint32|int32|byte)\s+(.*)$',
                         line)
        if not found:
            continue
        kind, text = found.groups()
        if kind == "string":
            values.append(text[1:-1] if text.startswith('"') else text)
        elif kind == "double":
            values.append(float(text))
        elif kind == "boolean":
            values.append(text == "true")
        else:
            values.append(int(text))
    return values


class Desktop:
    """The session bus as a desktop shell would see the updater: its launcher
    entry and its notifications, from a bus monitor, with a mock notification
    daemon answering them; and the X input focus, moved as a user moves it."""

    def __init__(self, work):
        self.monitor_log = os.path.join(work, "desktop-bus.log")
        self.daemon_log = os.path.join(work, "notification-daemon.log")
        self.monitor = subprocess.Popen(
            ["dbus-monitor", "--session",
             f"type='signal',interface='{LAUNCHER_INTERFACE}'",
             f"type='method_call',interface='{NOTIFICATIONS}',member='Notify'"],
            stdout=open(self.monitor_log, "w"), stderr=subprocess.DEVNULL)
        self.daemon = subprocess.Popen(
            ["/usr/bin/python3", "-m", "dbusmock", "--session", "--template",
             "notification_daemon", "--logfile", self.daemon_log],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.mark()
        wait_for("the notification daemon on the session bus", self.daemon_ready, DEFAULT_WAIT_S)

    def daemon_ready(self):
        names = subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"],
            capture_output=True, text=True).stdout
        return f'"{NOTIFICATIONS}"' in names, None

    def mark(self):
        """What the bus carried before this point is not looked at again."""
        self.monitor_from = os.path.getsize(self.monitor_log)
        self.daemon_from = (os.path.getsize(self.daemon_log)
                            if os.path.exists(self.daemon_log) else 0)

    def since_mark(self):
        with open(self.monitor_log, encoding="utf-8", errors="replace") as log:
            log.seek(self.monitor_from)
            return bus_messages(log.read())

    def launcher_updates(self):
        """The properties of each launcher-entry update since the mark."""
        updates = []
        for header, body in self.since_mark():
            if f"interface={LAUNCHER_INTERFACE}" not in header or "member=Update" not in header:
                continue
            values = bus_values(body)
            if not values or values[0] != LAUNCHER_APP_URI:
                raise Mismatch(f"launcher entry update for {values[:1]!r}")
            updates.append(dict(zip(values[1::2], values[2::2])))
        return updates

    def notifications(self):
        """(summary, body) of each notification request since the mark."""
        found = []
        for header, body in self.since_mark():
            if "member=Notify" in header:
                values = bus_values(body)
                found.append((values[3], values[4]))
        return found

    def daemon_extract(self):
        if not os.path.exists(self.daemon_log):
            return ""
        with open(self.daemon_log, encoding="utf-8", errors="replace") as log:
            log.seek(self.daemon_from)
            return log.read()

    def focus(self, window_id):
        result = subprocess.run(["xdotool", "windowfocus", str(window_id)],
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise Mismatch(f"xdotool windowfocus {window_id}: {result.stderr.strip()}")

    def stop(self):
        for process in (self.monitor, self.daemon):
            end_process(process)


def x_window_of(pid, title):
    """The X window of the program with this process and window title."""
    listed = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid),
                             "--name", "."], capture_output=True, text=True).stdout.split()
    for window in listed:
        name = subprocess.run(["xdotool", "getwindowname", window], capture_output=True,
                              text=True).stdout.rstrip("\n")
        if name == title:
            return window
    return None


def x_root_window():
    info = subprocess.run(["xwininfo", "-root"], capture_output=True, text=True).stdout
    found = re.search(r"Window id: (0x[0-9a-f]+)", info)
    if not found:
        raise Mismatch("xwininfo -root names no root window")
    return found.group(1)


class Run:
    def __init__(self, args, strings, model, scenario, work, env, atspi, desktop):
        self.args = args
        self.desktop = desktop
        self.strings = strings
        self.model = model
        self.scenario = scenario
        self.lang = scenario["lang"]
        self.work = work
        logind = not any(words[:2] == ["system-bus", "no-logind"]
                         for _, words in scenario["steps"])
        self.system_bus = SystemBus(work, logind)
        self.portal = None
        env = dict(env, DBUS_SYSTEM_BUS_ADDRESS=self.system_bus.address)
        try:
            if any(words == ["desktop-portal"] for _, words in scenario["steps"]):
                self.portal = DesktopPortal(work)
            self.unit = Emulator(args, scenario, work, env)
        except BaseException:
            self.stop_buses()
            raise
        self.atspi = atspi
        self.dialog = Dialog(atspi, self.unit.process.pid)
        self.copy = None
        self.copy_pid = None
        self.update_started = None
        self.notifications_kept = False
        self.log_offset = 0
        self.figures = []

    def string(self, word):
        return self.strings[(self.lang, int(word))] if word.isdigit() else word

    def shot(self, name):
        target = os.path.join(self.args.screenshots,
                              f"{self.scenario['name']}-{self.lang}-{name}.png")
        result = subprocess.run(["import", "-window", "root", target],
                                capture_output=True, text=True)
        if result.returncode != 0:
            print(f"  screenshot failed: {result.stderr.strip()}")
        else:
            print(f"  screenshot: {target}")

    def box_pattern(self, words):
        text = screen_text(self.string(words[2]).replace("%s", self.model))
        pattern = re.escape(text)
        rest = words[3:]
        if rest[:1] == ["code"]:
            first, second = rest[1].split("-")
            parts = screen_text(self.string(str(CODE_LINE))).split("%08x")
            if len(parts) != 3:
                raise SystemExit("the code line's format has not two numbers")
            second = "[0-9a-f]{8}" if second == "any" else re.escape(second.lower())
            pattern += "\n" + re.escape(parts[0]) + re.escape(first.lower()) + re.escape(parts[1])
            pattern += second + re.escape(parts[2])
            rest = rest[2:]
        elif rest[:1] == ["no-code"]:
            rest = rest[1:]
        press = rest[1] if rest[:1] == ["press"] else None
        return text, re.compile(pattern + r"\Z"), press

    def pane_text(self, words):
        """HEADLINE [instructions [PARAGRAPH [ARGUMENT]]]: a paragraph after the
        instructions, its %s replaced by ARGUMENT (a node's path)."""
        text = self.string(words[0])
        if words[1:2] == ["instructions"]:
            text += "\r\n\r\n" + self.string(str(INSTRUCTIONS))
        if len(words) > 2:
            paragraph = self.string(words[2])
            if len(words) > 3:
                paragraph = paragraph.replace("%s", words[3])
            text += "\r\n\r\n" + paragraph
        return screen_text(text)

    def wait(self, what, probe, wait_s, poll_s=POLL_S):
        return wait_for(what, probe, wait_s, self.unit.process, poll_s)

    def step(self, words):
        if words[:2] == ["copy", "start"]:
            # A second copy of the program, started while the first runs.
            reply = self.unit.command("copy")
            if not reply.startswith("ok "):
                raise Mismatch(f"emulator: copy\n  found: {reply}")
            self.copy_pid = int(reply.split()[1])
            self.dialog.exclude.add(self.copy_pid)
            self.copy = Dialog(self.atspi, self.copy_pid)
            return
        if words[:2] == ["copy", "exit"]:
            self.wait("the copy ends with exit code 0",
                      lambda: (lambda r: (r == "ok exit 0", r))(
                          self.unit.command(f"copy-exit {self.copy_pid}")), DEFAULT_WAIT_S)
            return
        dialog = self.dialog
        if words[0] == "copy":
            dialog, words = self.copy, words[1:]
        kind = words[0]

        if kind in ("pane", "pane-within"):
            wait_s = DEFAULT_WAIT_S
            if kind == "pane-within":
                wait_s, words = float(words[1]), words[1:]
            expected = self.pane_text(words[1:])
            # A long wait looks seldom, to leave the update's timing alone.
            self.wait(f"hint pane: {expected!r}",
                     lambda: (lambda t: (t == expected, t))(dialog.text_of(PANE)), wait_s,
                     LONG_POLL_S if kind == "pane-within" else POLL_S)
            if kind == "pane-within" and self.update_started is not None:
                self.report_update()
        elif kind == "update":
            want = words[1] == "on"
            self.wait(f"Update button enabled: {want}",
                     lambda: (lambda e: (e == want, e))(dialog.enabled(UPDATE)), DEFAULT_WAIT_S)
        elif kind in ("row", "caption"):
            row = int(words[1])
            expected = screen_text(self.string(" ".join(words[2:])))
            control = (VALUES if kind == "row" else CAPTIONS)[row]
            self.wait(f"{kind} {row}: {expected!r}",
                     lambda: (lambda t: (t == expected, t))(dialog.text_of(control)),
                     DEFAULT_WAIT_S)
        elif kind == "click":
            target = {"update": UPDATE, "close": CLOSE}[words[1]]
            if target == UPDATE:
                self.mark_update_start()
            self.wait(f"a control to click: {words[1]}", lambda: (dialog.click(target), None),
                     DEFAULT_WAIT_S)
        elif kind == "box":
            text, pattern, press = self.box_pattern(words)
            caption = self.string(words[1])
            expected = f"caption {caption!r}, text {text!r} (+ code line as given)"

            def probe():
                boxes = dialog.boxes()
                for window, shown_caption, labels in boxes:
                    if shown_caption == caption and any(pattern.match(screen_text(t))
                                                        for t in labels):
                        return True, window
                return False, [(c, labels) for _, c, labels in boxes]

            window = self.wait(f"message box: {expected}", probe, DEFAULT_WAIT_S)
            if press is not None and not dialog.press(window, press):
                raise Mismatch(f"message box {caption!r} has no {press} button")
            if press is not None:
                # The box is gone before the next step looks at the screen.
                self.wait(f"message box closed: {caption!r}",
                         lambda: (window not in [w for w, _, _ in dialog.boxes()], None),
                         DEFAULT_WAIT_S)
        elif kind == "progress":
            title = self.string(str(PROGRESS_TITLE))
            self.wait(f"progress window: {title!r}",
                     lambda: (dialog.window_titled(title),
                              [safe(w.get_name) for w in dialog.windows()]), DEFAULT_WAIT_S)
        elif kind in ("plug", "unplug", "fault"):
            reply = self.unit.command(" ".join(words))
            if not reply.startswith("ok"):
                raise Mismatch(f"emulator: '{' '.join(words)}'\n  expected: ok\n  found:    {reply}")
        elif kind == "flash":
            reply = self.unit.command(f"flash-matches {self.args.image}")
            if reply != "ok match":
                raise Mismatch(f"flash holds the image\n  expected: ok match\n  found:    {reply}")
        elif kind == "shot":
            self.shot(words[1])
        elif kind in ("system-bus", "desktop-portal"):
            pass  # set up before the program started
        elif kind == "portal-requests":
            want = int(words[1])
            found = self.wait(f"{want} open request(s) to the desktop portal",
                              lambda: (lambda r: (len(r) == want, r))(self.portal.open_requests()),
                              DEFAULT_WAIT_S)
            expected = (PORTAL_FLAGS, self.string(str(GUARD_REASON)))
            for request in found:
                if tuple(request) != expected:
                    raise Mismatch(f"portal request\n  expected: {expected!r}\n"
                                   f"  found:    {tuple(request)!r}")
        elif kind == "inhibitors":
            want = int(words[1])
            found = self.wait(f"{want} inhibitor lock(s) on logind",
                              lambda: (lambda i: (len(i) == want, i))(self.system_bus.inhibitors()),
                              DEFAULT_WAIT_S)
            why = self.string(str(GUARD_REASON))
            for what, who, shown_why, mode, _, _ in found:
                expected = (INHIBITED, "vespra-updater", why, "block")
                if (what, who, shown_why, mode) != expected:
                    raise Mismatch(f"inhibitor lock\n  expected: {expected!r}\n"
                                   f"  found:    {(what, who, shown_why, mode)!r}")
        elif kind == "keys":
            self.wait("the dialog's window on the X display",
                      lambda: (dialog.send_keys(words[1:]), None), DEFAULT_WAIT_S)
        elif kind == "settle":
            time.sleep(float(words[1]))
        elif kind == "signal":
            pid = dialog.process_id()
            if not pid:
                raise Mismatch("no process to signal")
            os.kill(pid, getattr(signal, "SIG" + words[1]))
        elif kind == "flash-at-end":
            with open(self.args.image, "rb") as source:
                image = source.read()
            try:
                with open(self.unit.flash_at_end, "rb") as dump:
                    flash = dump.read()
            except OSError as problem:
                raise Mismatch(f"the flash the emulator left: {problem}")
            rest = flash[len(image):]
            if flash[:len(image)] != image or rest.strip(b"\xff"):
                raise Mismatch("the flash at the end does not hold the image alone")
        elif kind == "desktop":
            self.desktop_step(words[1:])
        elif kind in ("exit", "exit-within"):
            wait_s = float(words[1]) if kind == "exit-within" else DEFAULT_WAIT_S
            try:
                code = self.unit.process.wait(timeout=wait_s)
            except subprocess.TimeoutExpired:
                raise Mismatch("the program did not end after Close")
            if code != 0:
                raise Mismatch(f"exit code\n  expected: 0\n  found:    {code}")
        else:
            raise SystemExit(f"unknown step {kind}")

    def dialog_active(self):
        window = self.dialog.main_dialog()
        states = safe(window.get_state_set) if window is not None else None
        return None if states is None else states.contains(self.dialog.atspi.StateType.ACTIVE)

    def desktop_step(self, words):
        desktop = self.desktop
        if words[:1] == ["focus"]:
            # As a user clicks another program's window, or the dialog: the X
            # input focus moves, and the program sees its dialog become active
            # or not.
            want = words[1] == "dialog"
            if want:
                window = self.dialog.main_dialog()
                pid = safe(self.dialog.application().get_process_id)
                title = safe(window.get_name) if window is not None else None
                target = x_window_of(pid, title) if pid and title else None
                if target is None:
                    raise Mismatch(f"no X window titled {title!r} of process {pid}")
            else:
                target = x_root_window()
            desktop.focus(target)
            self.wait(f"dialog active: {want}",
                     lambda: (lambda a: (a == want, a))(self.dialog_active()), DEFAULT_WAIT_S)
        elif words[:2] == ["launcher", "complete"]:
            # Rising to the whole, then hidden, never marked urgent.
            def probe():
                updates = desktop.launcher_updates()
                return bool(updates) and updates[-1].get("progress-visible") is False, updates
            updates = self.wait("launcher entry: progress hidden at the end", probe,
                                DEFAULT_WAIT_S)
            progress = [u["progress"] for u in updates if "progress" in u]
            if not progress or progress != sorted(progress) or progress[-1] != 1.0:
                raise Mismatch(f"launcher progress rising to 1.0\n  found: {progress}")
            if len(progress) != len(set(progress)) or len(progress) != 101:
                raise Mismatch(f"launcher progress 0.0 to 1.0 once each\n  found: {progress}")
            if any(u.get("urgent") for u in updates):
                raise Mismatch("launcher entry marked urgent in a successful update")
            print(f"  launcher entry: {len(progress)} positions from {progress[0]} to "
                  f"{progress[-1]}, then progress-visible false")
        elif words[:2] == ["launcher", "urgent"]:
            def probe():
                updates = desktop.launcher_updates()
                return any(u.get("urgent") is True for u in updates), updates
            updates = self.wait("launcher entry: urgent", probe, DEFAULT_WAIT_S)
            progress = [u["progress"] for u in updates if "progress" in u]
            if not progress or progress != sorted(progress) or progress[-1] >= 1.0:
                raise Mismatch(f"launcher progress rising, short of 1.0\n  found: {progress}")
            print(f"  launcher entry: progress to {progress[-1]}, then urgent")
        elif words[:1] == ["notifications"]:
            count = int(words[1])
            expected = self.string(words[2]) if len(words) > 2 else None

            def probe():
                found = desktop.notifications()
                return len(found) >= max(count, 1), found
            if count == 0:
                # Nothing may come: watched for a while after the outcome.
                time.sleep(QUIET_S)
                found = desktop.notifications()
            else:
                found = self.wait(f"{count} notification(s)", probe, DEFAULT_WAIT_S)
                time.sleep(QUIET_S)
                found = desktop.notifications()
            if len(found) != count:
                raise Mismatch(f"notifications\n  expected: {count}\n  found:    {found}")
            if expected is not None and not screen_text(found[0][1]).startswith(
                    screen_text(expected)):
                raise Mismatch(f"notification text\n  expected: {expected!r}\n"
                               f"  found:    {found[0][1]!r}")
            target = os.path.join(self.args.screenshots,
                                  f"{self.scenario['name']}-{self.lang}-notifications.log")
            with open(target, "a" if self.notifications_kept else "w", encoding="utf-8") as log:
                log.write(desktop.daemon_extract())
            self.notifications_kept = True
            print(f"  notifications: {found}; daemon log: {target}")
        else:
            raise SystemExit(f"unknown desktop step {' '.join(words)}")

    def mark_update_start(self):
        if self.desktop is not None:
            self.desktop.mark()
        reply = self.unit.command("stats-reset")
        if reply != "ok":
            raise Mismatch(f"emulator: stats-reset\n  found: {reply}")
        self.log_offset = os.path.getsize(self.unit.log) if os.path.exists(self.unit.log) else 0
        self.update_started = time.monotonic()

    def report_update(self):
        wall_ms = (time.monotonic() - self.update_started) * 1000
        stats = self.unit.command("stats")
        self.figures.append(f"update: {wall_ms:,.0f} ms from the click to the success text; "
                            f"emulator {stats}")
        found = re.search(r"exchanges=(\d+) first_ms=(\d+) last_ms=(\d+)", stats)
        if found:
            exchanges, first, last = map(int, found.groups())
            self.figures.append(f"update: {exchanges} exchanges in {last - first:,} ms "
                                f"from the first request to the last")
        # The emulator's log of this update alone, for the per-exchange figures.
        part = os.path.join(self.work, "update.log")
        with open(self.unit.log, "rb") as log, open(part, "wb") as out:
            log.seek(self.log_offset)
            out.write(log.read())
        times = subprocess.run([sys.executable, os.path.join(HERE, "exchange_times.py"), part],
                               capture_output=True, text=True)
        self.figures += [line for line in times.stdout.splitlines() if line.strip()]

    def run(self):
        try:
            for where, words in self.scenario["steps"]:
                try:
                    self.step(words)
                except Mismatch as mismatch:
                    self.shot("failure")
                    raise Mismatch(f"{where}: {' '.join(words)}\n  {mismatch}")
        finally:
            self.unit.stop()
            self.stop_buses()

    def stop_buses(self):
        if self.portal is not None:
            self.portal.stop()
        self.system_bus.stop()


def private_bus(argv):
    """Runs this script again inside a session bus of its own. The bus and what
    it starts (the accessibility bus and its registry) see no X display, so they
    advertise nothing on it that another run on the same display would pick up."""
    env = dict(os.environ, **{BUS_MARK: "1"})
    env.pop("AT_SPI_BUS_ADDRESS", None)
    display = env.pop("DISPLAY")
    # The accessibility bus's socket lives in the runtime folder: one per run.
    runtime = tempfile.mkdtemp(prefix="vespra-e2e-")
    env["XDG_RUNTIME_DIR"] = runtime
    command = ["dbus-run-session", "--", "env", f"DISPLAY={display}", sys.executable,
               os.path.abspath(argv[0])] + argv[1:]
    try:
        return subprocess.run(command, env=env).returncode
    finally:
        shutil.rmtree(runtime, ignore_errors=True)


def accessibility_bus():
    """The address of the accessibility bus that the session bus starts on
    demand. This script takes it from there, as the programs do: left to find it
    by itself it would first look at the X display, where another run sharing
    the display may have advertised its own."""
    from gi.repository import Gio, GLib
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                              None, GLib.VariantType.new("(s)"), Gio.DBusCallFlags.NONE,
                              int(DEFAULT_WAIT_S * 1000), None)
    return reply.unpack()[0]


def run_as_user(args):
    """Runs this script again as an ordinary user, for whom file permissions
    apply as they do for anyone at the seat. Everything it reads is copied to a
    folder that user may read (the build may lie where only root may look), and
    the work and screenshot folders are given to it."""
    import pwd
    try:
        user = pwd.getpwnam(args.as_user)
    except KeyError:
        print(f"no user {args.as_user}: skipped")
        return SKIPPED
    if not shutil.which("setpriv"):
        print("setpriv is missing: skipped")
        return SKIPPED
    stage = tempfile.mkdtemp(prefix="vespra-e2e-user-")
    try:
        os.chmod(stage, 0o755)
        shutil.copytree(HERE, os.path.join(stage, "tests", "e2e"),
                        ignore=shutil.ignore_patterns("__pycache__", "*.cpp", "*.h"))
        shutil.copytree(os.path.join(SOURCE, "res"), os.path.join(stage, "res"),
                        ignore=shutil.ignore_patterns("__pycache__"))
        os.makedirs(os.path.join(stage, "app"))
        shutil.copy(args.model_source, os.path.join(stage, "app", "detection.cpp"))
        programs = os.path.join(stage, "bin")
        os.makedirs(programs)
        for program in (args.emulator, args.updater):
            shutil.copy(program, programs)
        scenarios = os.path.join(stage, "scenarios.txt")
        shutil.copy(args.scenarios, scenarios)
        # The user's own folders inside the stage (the build's may lie where
        # only root may look), copied to the given ones afterwards.
        work, shots = os.path.join(stage, "work"), os.path.join(stage, "screenshots")
        for folder in (work, shots):
            os.makedirs(folder)
        for root, folders, files in os.walk(stage):
            for name in folders + files:
                os.chmod(os.path.join(root, name),
                         0o755 if name in folders or root == programs else 0o644)
        for folder in (work, shots):
            os.chown(folder, user.pw_uid, user.pw_gid)
        command = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}",
                   "--clear-groups", "env", f"HOME={args.work}", f"USER={user.pw_name}",
                   sys.executable, os.path.join(stage, "tests", "e2e", "run_linux_e2e.py"),
                   "--emulator", os.path.join(programs, os.path.basename(args.emulator)),
                   "--updater", os.path.join(programs, os.path.basename(args.updater)),
                   "--scenarios", scenarios, "--screenshots", shots, "--work", work]
        for name in args.only:
            command += ["--only", name]
        for name in args.skip:
            command += ["--except", name]
        print(f"as user {user.pw_name} (uid {user.pw_uid})", flush=True)
        result = subprocess.run(command).returncode
        for kept, folder in ((shots, args.screenshots), (work, args.work)):
            shutil.rmtree(folder, ignore_errors=True)
            # Only folders and plain files: a control FIFO left behind would block.
            shutil.copytree(kept, folder, symlinks=True, ignore=lambda where, names: [
                n for n in names if not (os.path.isdir(os.path.join(where, n))
                                         or os.path.isfile(os.path.join(where, n)))])
        return result
    finally:
        shutil.rmtree(stage, ignore_errors=True)


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", required=True, help="the emulated unit program")
    parser.add_argument("--updater", required=True)
    parser.add_argument("--scenarios", default=os.path.join(HERE, "scenarios.txt"))
    parser.add_argument("--resources", default=os.path.join(SOURCE, "res", "vespra.rc"))
    parser.add_argument("--model-source", default=os.path.join(SOURCE, "app", "detection.cpp"))
    parser.add_argument("--image", default=os.path.join(SOURCE, "res", "firmware_image.bin"))
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("--work", required=True, help="a folder for control FIFOs and logs")
    parser.add_argument("--only", action="append", default=[], help="NAME or NAME:LANG")
    parser.add_argument("--except", dest="skip", action="append", default=[],
                        help="NAME or NAME:LANG")
    parser.add_argument("--as-user", help="run as this ordinary user when started as root")
    args = parser.parse_args(argv[1:])
    if not os.environ.get("DISPLAY"):
        print("No X display (DISPLAY is not set): skipped. scripts/test provides one.")
        return SKIPPED
    if args.as_user and os.geteuid() == 0:
        return run_as_user(args)
    if not shutil.which("dbus-run-session"):
        print("dbus-run-session is missing: skipped.")
        return SKIPPED
    if os.environ.get(BUS_MARK) != "1":
        return private_bus(argv)

    import gi
    gi.require_version("Atspi", "2.0")
    os.environ["AT_SPI_BUS_ADDRESS"] = accessibility_bus()
    from gi.repository import Atspi

    # The registry starts before the first program does,
    # so that every program finds them running.
    children(Atspi.get_desktop(0))
    strings = load_strings(args.resources)
    model = model_name(args.model_source)
    scenarios = parse_scenarios(args.scenarios)
    def named(scenario, names):
        return scenario["name"] in names or f"{scenario['name']}:{scenario['lang']}" in names

    if args.only:
        scenarios = [s for s in scenarios if named(s, args.only)]
    scenarios = [s for s in scenarios if not named(s, args.skip)]
    if args.only or args.skip:
        if not scenarios:
            print("no scenario matches", args.only)
            return 1
    os.makedirs(args.screenshots, exist_ok=True)
    os.makedirs(args.work, exist_ok=True)
    desktop = Desktop(args.work)
    failed = []
    for scenario in scenarios:
        label = f"{scenario['name']} ({scenario['lang']})"
        work = os.path.join(args.work, f"{scenario['name']}-{scenario['lang']}")
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        env = dict(os.environ, LANG=LOCALES[scenario["lang"]], LC_ALL=LOCALES[scenario["lang"]],
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        env.pop("LANGUAGE", None)
        # Qt finds the bus through the session bus; named in the environment, it
        # would not announce itself on it.
        env.pop("AT_SPI_BUS_ADDRESS", None)
        print(f"== {label}", flush=True)
        started = time.monotonic()
        run = Run(args, strings, model, scenario, work, env, Atspi, desktop)
        try:
            run.run()
            verdict = "passed"
        except Mismatch as mismatch:
            print(f"  MISMATCH {mismatch}")
            failed.append(label)
            verdict = "FAILED"
        for figure in run.figures:
            print(f"  {figure}")
        print(f"  {verdict} in {time.monotonic() - started:.1f} s", flush=True)
    desktop.stop()
    print(f"{len(scenarios) - len(failed)} of {len(scenarios)} scenarios passed"
          + (": failed " + ", ".join(failed) if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    sys.exit(main(sys.argv))
