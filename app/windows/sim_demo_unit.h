// The one unit of the demonstration program, as its tests find it.
#pragma once

// Device path of the simulated LINK-CUBE, spelt as Windows spells HID interfaces.
constexpr char16_t SIM_DEMO_UNIT_PATH[] =
    u"\\\\?\\HID#VID_3A5D&PID_0002#7&2A5C1B&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
