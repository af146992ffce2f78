// Identification of a freshly opened interface: its report lengths, the unit's
// mode and versions and, in mode UNIT_MODE_SERVES_CONTROLLER with an updatable
// controller, the controller's firmware and identity.
#pragma once
#include "device/command_reports.h"

// Fills in the report lengths and identity fields of the open unit.
ExchangeResult IdentifyUnit();
