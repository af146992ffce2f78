// Where the dialog's device arrivals and removals come from: the udev monitor in
// the real program, the control window in the simulated one. Chosen at link time.
#pragma once

class QWidget;

// Starts delivering events to OnDeviceChange; false when that is impossible.
bool RegisterDeviceEvents(QWidget* dialog);
void UnregisterDeviceEvents();
