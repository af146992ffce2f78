// The product talks to real programming units: nothing to prepare.
#include "app/windows/program_windows.h"

void PrepareDeviceBackend() {}
