// The one firmware image the updater carries, and its fixed version.
#pragma once
#include <cstdint>
#include "res/resource_ids.h"

constexpr uint16_t FIRMWARE_IMAGE_ID = IDR_FIRMWARE_IMAGE; // 142, raw data
constexpr uint16_t FIRMWARE_IMAGE_VERSION = 0x0305;        // 3.5
