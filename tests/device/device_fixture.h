// Shared set-up of the device-link tests: a fresh simulated world, virtual time
// and a closed record for every test, and no handle or interface set left over.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/command_reports.h"
#include "device/hid/sim_world.h"
#include "device/identify_unit.h"
#include "device/unit_connection.h"
#include "tests/support/virtual_clock.h"

typedef std::vector<uint8_t> Bytes;

class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SimReset();
        VirtualClockReset();
        ResetUnitConnection();
    }
    void TearDown() override {
        CloseUnit();
        EXPECT_EQ(SimOpenHandleCount(), 0);
        EXPECT_EQ(SimInterfaceSetCount(), 0);
    }
    // Adds the unit, opens and identifies it, and forgets the identification's
    // traffic so that a test sees only its own exchanges.
    int OpenIdentified(const SimInterface& unit = SimReadyUnit()) {
        const int index = SimAddInterface(unit);
        EXPECT_EQ(OpenUnit(), 0);
        SimClearWireLog();
        VirtualClockReset();
        return index;
    }
};

// A whole 60-byte report: the given leading bytes, zero after them.
inline Bytes Report(std::initializer_list<uint8_t> leading) {
    Bytes report(leading);
    report.resize(REPORT_BUFFER_BYTES, 0);
    return report;
}

// Puts a little-endian word into a report at a byte offset.
inline void SetLe32(Bytes* report, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        (*report)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// The kinds of wire traffic, for tests that check what was (not) exchanged.
inline int CountRecords(bool isWrite) {
    int count = 0;
    for (const SimWireRecord& record : SimWireLog()) {
        count += record.isWrite == isWrite ? 1 : 0;
    }
    return count;
}
