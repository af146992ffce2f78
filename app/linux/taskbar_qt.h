// The Qt front-end's side of the taskbar port.
#pragma once

// Connects to the desktop's session bus, if it names one, before any update:
// the connection's set-up then takes none of the update's time.
void ConnectTaskbar();
