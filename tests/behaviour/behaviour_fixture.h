// Shared set-up of the behaviour tests: the simulated unit, the virtual clock
// and the recording UI port, all fresh for every test.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/hid/sim_world.h"
#include "res/resource_data.h"
#include "tests/support/recording_ui.h"

class BehaviourTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs a unit (default: ready, LINK-CUBE, VESPRA 80 LV at 3.4) and runs the
    // start-up detection; the logs start empty afterwards.
    int StartWithUnit(const SimInterface& unit = SimReadyUnit());
    void ClearLogs();

    // The command code (byte 1) of every request on the wire, in order.
    static std::vector<uint8_t> CommandsSent();
    // Requests of one command, whole.
    static std::vector<std::vector<uint8_t>> RequestsOf(uint8_t command);

    // What the pane holds after a situation text: headline, blank line, instructions.
    static std::u16string HintText(uint16_t headlineId);
    static std::u16string Pane();
    static bool UpdateEnabled();
    static bool PanelIsEmpty();
};

constexpr uint16_t INTERFACE_DEVICE_TYPE = 5;
int Arrive(uint32_t deviceType = INTERFACE_DEVICE_TYPE);
int Remove(const std::u16string& path, uint32_t deviceType = INTERFACE_DEVICE_TYPE);
