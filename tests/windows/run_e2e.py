#!/usr/bin/env python3
"""Runs scenarios of the end-to-end table (tests/e2e/scenarios.txt) with the Windows
updater under Wine: for each one, starts the emulated programming unit with the
scenario's unit options and, inside its emulated world, Wine with the UI driver on
a Wine virtual desktop (Wine then draws the window frames and captions itself, as
Windows would, with no window manager needed). The updater reaches the unit
through Wine's own HID stack: winebus on the emulated hidraw node, hidclass,
hid.dll and SetupAPI.

The driver asks on its stdout, and gets one line back on its stdin, for
  SNAPSHOT <name>   a screenshot of the X display, kept as <screenshots>/<name>.png
  UNIT <command>    a command to the emulated unit's control FIFO, answered with the
                    unit's reply ("flash image" becomes "flash-matches <image>")
and ends with "RESULT PASS" or "RESULT FAIL". The exit code is 0 when every chosen
scenario passed, 1 otherwise, 77 (skipped) without an X display or emulated unit.

Without --emulator the driver runs straight under Wine (for a build that carries its
own simulated unit); every UNIT command is then refused."""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77
DESKTOP = "/desktop=vespra-e2e,1280x1024"
SCENARIO_TIMEOUT_S = 300
CONTROL_TIMEOUT_S = 60
LOCALES = {"en": "en_US.UTF-8", "de": "de_DE.UTF-8"}
WINE_IN_WORLD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e",
                             "wine_in_world.sh")
WINEBUS_KEY = r"HKLM\System\CurrentControlSet\Services\winebus"

sys.path.insert(0, os.path.dirname(WINE_IN_WORLD))
from emulator_control import ControlLink  # noqa: E402
from scenario_file import parse_scenarios  # noqa: E402


def windows_path(path):
    # Wine maps the Unix root to drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ask_unit(link, request):
    """The unit's reply, or the driver's "error ..." line for a failure."""
    if link is None:
        return "error no emulated unit"
    try:
        return link.ask(request, CONTROL_TIMEOUT_S)
    except OSError as problem:
        return f"error {problem}"


def wine_environment(prefix, language):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG=env.get("WINEDEBUG", "-all"),
               WINEDLLOVERRIDES="mscoree,mshtml=", LANG=LOCALES[language],
               LC_ALL=LOCALES[language])
    return env


def prepare_prefix(wine, prefix):
    """A Wine prefix of the end-to-end runs alone, whose HID bus reads hidraw nodes
    (with its SDL bus on, Wine would look at nothing else), and no Wine server
    running in it: every Wine process must start inside the emulated world."""
    env = wine_environment(prefix, "en")
    registry = os.path.join(prefix, "system.reg")
    if not os.path.exists(registry):
        os.makedirs(prefix, exist_ok=True)
        subprocess.run(["wineboot", "--init"], env=env, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=env)
    with open(registry, encoding="utf-8", errors="replace") as text:
        sdl_off = re.search(r'\[System\\\\CurrentControlSet\\\\Services\\\\winebus\][^\[]*'
                            r'"Enable SDL"=dword:00000000', text.read())
    if not sdl_off:
        subprocess.run([wine, "reg", "add", WINEBUS_KEY, "/v", "Enable SDL", "/t", "REG_DWORD",
                        "/d", "0", "/f"], env=env, capture_output=True)
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
    subprocess.run(["wineserver", "-w"], env=env)


def take_screenshot(display, target):
    shot = subprocess.run(["import", "-window", "root", "-display", display, target],
                          capture_output=True, text=True)
    if shot.returncode == 0:
        return f"screenshot: {target}"
    return f"screenshot failed: {shot.stderr.strip()}"


def print_exchange_figures(log):
    """The emulated unit's time figures of the whole update: the part of its log
    after the driver's last stats-reset, which it asks for at the Update click."""
    import exchange_times
    with open(log, encoding="utf-8") as text:
        lines = text.readlines()
    marks = [i for i, line in enumerate(lines) if line.split()[1:3] == ["control", "stats-reset"]]
    update_log = log + ".update"
    with open(update_log, "w", encoding="utf-8") as text:
        text.writelines(lines[marks[-1] if marks else 0:])
    print(exchange_times.figures(update_log), flush=True)


def run_scenario(args, name, language, unit_options):
    """True when the driver's verdict on the scenario is PASS."""
    print(f"=== scenario {name} {language}, unit: {' '.join(unit_options) or 'ready'}",
          flush=True)
    started = time.monotonic()
    env = wine_environment(args.prefix, language) if args.prefix else dict(
        os.environ, LANG=LOCALES[language], LC_ALL=LOCALES[language])
    driver = [args.wine, "explorer", DESKTOP, windows_path(args.driver), windows_path(args.table),
              windows_path(args.updater), name, language]
    control_dir = None
    if args.emulator:
        control_dir = tempfile.mkdtemp(prefix="vespra-e2e-")
        log = os.path.join(args.logs, f"{name}-{language}.log")
        unit = [a for option in unit_options for a in ("--unit", option)]
        # The Wine server, the device host with Wine's HID bus and every Wine
        # process start inside the emulated world and end with it.
        command = [args.emulator, *unit, "--control", control_dir, "--log", log, "--",
                   WINE_IN_WORLD, *driver]
    else:
        command = driver
    process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               text=True, encoding="utf-8", errors="replace",
                               start_new_session=True)
    link = ControlLink(control_dir) if control_dir else None
    # Ended with SIGTERM first: the emulated unit then ends its child's process
    # group (Wine) and removes its testbed.
    timer = threading.Timer(SCENARIO_TIMEOUT_S, process.terminate)
    timer.start()
    verdict = None
    whole_update = False
    try:
        for line in process.stdout:
            line = line.rstrip("\r\n")
            print(line, flush=True)
            answer = None
            whole_update = whole_update or line.startswith("TIME whole update")
            if line.startswith("RESULT "):
                verdict = line.split(" ", 1)[1].strip()
            elif line.startswith("SNAPSHOT "):
                target = os.path.join(args.screenshots, line.split(" ", 1)[1].strip() + ".png")
                answer = take_screenshot(os.environ["DISPLAY"], target)
                print(answer, flush=True)
            elif line.startswith("UNIT "):
                request = line.split(" ", 1)[1].strip()
                if request == "flash image":
                    request = "flash-matches " + os.path.abspath(args.image)
                answer = ask_unit(link, request)
            if answer is not None:
                process.stdin.write(answer + "\n")
                process.stdin.flush()
        process.wait()
    finally:
        timer.cancel()
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        if args.prefix:
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        if control_dir:
            shutil.rmtree(control_dir, ignore_errors=True)
    if control_dir and whole_update:
        print_exchange_figures(log)
    took = time.monotonic() - started
    print(f"=== scenario {name} {language}: {verdict or 'no verdict (the driver ended early)'}"
          f", wall time {took:.1f} s (exit code {process.returncode})", flush=True)
    return verdict == "PASS"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--updater", required=True)
    parser.add_argument("--table", required=True)
    choice = parser.add_mutually_exclusive_group(required=True)
    choice.add_argument("--scenario", help="NAME:LANGUAGE, or NAME for every language it has")
    choice.add_argument("--language", choices=sorted(LOCALES), help="every scenario of it")
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("--emulator", help="the emulated unit program")
    parser.add_argument("--prefix", help="the Wine prefix of these runs (made if missing)")
    parser.add_argument("--image", help="the firmware image the updater carries")
    parser.add_argument("--logs", help="folder for the emulated unit's exchange logs")
    args = parser.parse_args()

    if not os.environ.get("DISPLAY"):
        print("No X display (DISPLAY is not set): skipped. scripts/test provides one.")
        return SKIPPED
    if args.emulator is not None and not os.access(args.emulator, os.X_OK):
        print(f"No emulated unit at {args.emulator} (the Linux build makes it): skipped.")
        return SKIPPED
    for program in (args.driver, args.updater, args.table):
        if not os.path.isfile(program):
            print("missing:", program)
            return 1
    if args.emulator and not (args.prefix and args.image and args.logs):
        parser.error("--emulator needs --prefix, --image and --logs")

    chosen = []
    for scenario in parse_scenarios(args.table):
        name, language, options = scenario["name"], scenario["lang"], scenario["unit"]
        if args.language == language or (args.scenario in (name, f"{name}:{language}")):
            chosen.append((name, language, options))
    if not chosen:
        print("no such scenario in", args.table)
        return 1
    os.makedirs(args.screenshots, exist_ok=True)
    if args.logs:
        os.makedirs(args.logs, exist_ok=True)
    if args.prefix:
        prepare_prefix(args.wine, args.prefix)

    failed = [f"{n} {l}" for n, l, o in chosen if not run_scenario(args, n, l, o)]
    if failed:
        print("failed:", ", ".join(failed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
