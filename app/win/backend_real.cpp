// The product talks to real programming units: nothing to prepare.
#include "app/win/win_program.h"

void PrepareDeviceBackend() {}
