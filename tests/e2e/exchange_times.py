#!/usr/bin/env python3
"""Time figures of an update from an emulated_unit --log file: the update's span
(first lock request to the last reply taken off the node) against the 45,820 ms
of pauses the update must take, the time from each request to its reply being
read off the node, and the interval between successive block writes against
their 20 ms pause. Reports; asserts nothing."""
import statistics
import sys

PAUSES_MS = 45820
BLOCK_PAUSE_MS = 20


def figures(path):
    events = []
    with open(path, encoding="utf-8") as log:
        for line in log:
            words = line.split()
            if len(words) >= 2:
                events.append((float(words[0]), words[1], words[2] if len(words) > 2 else ""))
    requests = [(t, name) for t, kind, name in events if kind == "request"]
    locks = [t for t, name in requests if name == "CMD_SYSTEM_LOCK"]
    reads = [t for t, kind, _ in events if kind == "read"]
    if not locks or not reads:
        return f"{path}: no update in the log"
    span = reads[-1] - locks[0]
    turnaround, pending = [], None
    for t, kind, _ in events:
        if kind == "request":
            pending = t
        elif kind == "read" and pending is not None:
            turnaround.append(t - pending)
            pending = None
    blocks = [t for t, name in requests if name == "CMD_WRITE_BLOCK"]
    intervals = [b - a for a, b in zip(blocks, blocks[1:])]
    lines = [
        f"{path}:",
        f"  exchanges {len(requests)}, update span {span:,.0f} ms, "
        f"{span - PAUSES_MS:+,.0f} ms ({(span - PAUSES_MS) / PAUSES_MS * 100:+.2f} %) over the "
        f"{PAUSES_MS:,} ms of pauses",
        f"  request to reply read off the node: median {statistics.median(turnaround):.3f} ms, "
        f"mean {statistics.mean(turnaround):.3f} ms, max {max(turnaround):.3f} ms",
    ]
    if intervals:
        lines.append(
            f"  block to block: median {statistics.median(intervals):.2f} ms, mean "
            f"{statistics.mean(intervals):.2f} ms ({statistics.mean(intervals) - BLOCK_PAUSE_MS:.2f} ms "
            f"beyond the {BLOCK_PAUSE_MS} ms pause), max {max(intervals):.2f} ms")
    return "\n".join(lines)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: exchange_times.py LOG...")
    for log_path in sys.argv[1:]:
        print(figures(log_path))
