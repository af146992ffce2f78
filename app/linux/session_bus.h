// Whether the desktop names a session bus. Left to find a bus by itself, the bus
// library would start one for the X display (autolaunch): a process that outlives
// the program and that no desktop listens to, started in the middle of an update.
#pragma once

// True when DBUS_SESSION_BUS_ADDRESS is set, or the user's bus socket lies in
// XDG_RUNTIME_DIR, where systemd's user manager puts it.
bool SessionBusNamed();
