// Turning a WM_DEVICECHANGE lParam into the two fields the detection reads.
#pragma once
#include <windows.h>

#include "app/detection.h"

// False when lParam carries no broadcast. An interface path that does not end
// within the broadcast's stated size is left null, so it matches no unit.
bool DeviceBroadcastFromMessage(LPARAM lParam, DeviceBroadcast* broadcast);
