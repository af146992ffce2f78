"""The emulated unit's control FIFOs (DIR/in, DIR/out), as both end-to-end runners
speak to them: one command line in, one reply line out."""
import os
import select
import time


class ControlError(OSError):
    """The FIFOs did not appear, or no reply came in time."""


class ControlLink:
    def __init__(self, directory, alive=lambda: True):
        self.directory = directory
        self.alive = alive  # False once the emulated unit has gone: stop waiting
        self.writer = None
        self.reader = None
        self.pending = b""

    def _open(self, wait_s):
        deadline = time.monotonic() + wait_s
        paths = [os.path.join(self.directory, name) for name in ("in", "out")]
        while not all(os.path.exists(p) for p in paths):
            if time.monotonic() > deadline or not self.alive():
                raise ControlError("the emulated unit made no control FIFOs")
            time.sleep(0.05)
        # Read-write opens never block and never see an end of file while the
        # emulated unit opens and closes its ends.
        self.writer = os.open(paths[0], os.O_RDWR)
        self.reader = os.open(paths[1], os.O_RDWR | os.O_NONBLOCK)

    def ask(self, command, wait_s):
        """The unit's reply to `command`; ControlError when none came in `wait_s`."""
        if self.writer is None:
            self._open(wait_s)
        os.write(self.writer, (command + "\n").encode())
        deadline = time.monotonic() + wait_s
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0:
                raise ControlError(f"no reply from the emulated unit to '{command}'")
            ready, _, _ = select.select([self.reader], [], [], left)
            if ready:
                self.pending += os.read(self.reader, 4096)
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode("utf-8", "replace").strip()

    def close(self):
        for fd in (self.writer, self.reader):
            if fd is not None:
                os.close(fd)
        self.writer = self.reader = None
