// The demonstration program: one LINK-CUBE unit in mode 0 with a ready VESPRA 80 LV
// controller at firmware 3.4, answering at once.
#include "app/windows/sim_demo_unit.h"
#include "app/windows/program_windows.h"
#include "device/hid/sim_world.h"

void PrepareDeviceBackend() {
    SimReset();
    SimInterface unit = SimReadyUnit();
    unit.path = SIM_DEMO_UNIT_PATH;
    SimAddInterface(unit);
}
