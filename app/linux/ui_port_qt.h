// The Qt side of the UI port, beyond update/ui_port.h: language set-up. The image
// the update writes comes from carried_image.cpp, linked beside it.
#pragma once
#include <cstdint>

// Loads Qt's own translations (message-box buttons) for the language, replacing
// those loaded before; English needs none.
void InstallPlatformTranslations(uint16_t language);
