// The Qt side of the UI port, beyond app/ui_port.h: language set-up and the
// image the update writes.
#pragma once
#include <cstdint>

// Loads Qt's own translations (message-box buttons) for the language, replacing
// those loaded before; English needs none.
void InstallPlatformTranslations(uint16_t language);
// The image UiMapFirmwareImage hands out; by default the one the program carries.
// Tests put a short image here to keep a whole update brief.
void SetFirmwareImageForUpdate(const uint8_t* image, uint32_t size);
