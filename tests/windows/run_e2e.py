#!/usr/bin/env python3
"""Runs one end-to-end scenario of the Windows updater under Wine: starts the UI
driver on a Wine virtual desktop (Wine then draws the window frames and captions
itself, as Windows would, with no window manager needed), takes a screenshot of
the X display whenever the driver asks for one, and turns the driver's verdict
into the exit code (77: no display, test skipped)."""
import argparse
import os
import subprocess
import sys

SKIPPED = 77
DESKTOP = "/desktop=vespra-e2e,1280x1024"


def windows_path(path):
    # Wine maps the Unix root to drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--updater", required=True)
    parser.add_argument("--scenario", required=True)
    parser.add_argument("--language", required=True)
    parser.add_argument("--screenshots", required=True)
    args = parser.parse_args()

    display = os.environ.get("DISPLAY")
    if not display:
        print("No X display (DISPLAY is not set): skipped. scripts/test provides one.")
        return SKIPPED
    os.makedirs(args.screenshots, exist_ok=True)

    driver = subprocess.Popen(
        [args.wine, "explorer", DESKTOP, windows_path(args.driver), args.scenario,
         windows_path(args.updater), args.language],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, encoding="utf-8",
        errors="replace")
    verdict = None
    for line in driver.stdout:
        line = line.rstrip("\r\n")
        print(line, flush=True)
        if line.startswith("RESULT "):
            verdict = line.split(" ", 1)[1].strip()
        elif line.startswith("SNAPSHOT "):
            name = line.split(" ", 1)[1].strip()
            target = os.path.join(args.screenshots, name + ".png")
            shot = subprocess.run(["import", "-window", "root", "-display", display, target],
                                  capture_output=True, text=True)
            if shot.returncode == 0:
                print(f"screenshot: {target}", flush=True)
            else:
                print(f"screenshot failed: {shot.stderr.strip()}", flush=True)
            driver.stdin.write("done\n")
            driver.stdin.flush()
    driver.wait()
    if verdict != "PASS":
        print("the driver's verdict:", verdict or "none (it ended early)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
