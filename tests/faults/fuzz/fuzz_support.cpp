#include "tests/faults/fuzz/fuzz_support.h"

#include "device/unit_connection.h"
#include "tests/support/virtual_clock.h"

SimInterface FreshWorldWithReadyUnit() {
    CloseUnit();
    SimReset();
    VirtualClockReset();
    ResetUnitConnection();
    SimInterface unit = SimReadyUnit();
    unit.controller.flash.assign(4096, 0x5A);
    return unit;
}

const std::vector<uint8_t>* LastReplyOnWire(size_t since) {
    const std::vector<SimWireRecord>& log = SimWireLog();
    if (log.size() <= since || log.back().isWrite || log.back().failed) {
        return nullptr;
    }
    return &log.back().bytes;
}
