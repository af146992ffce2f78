// The firmware image the update writes: the one the program carries, with the
// digest the build recorded for it. A separate library, so that a test can link
// an image of its own in its place.
#include "update/ui_port.h"
#include "res/firmware_image_digest.h"
#include "res/resource_data.h"

void UiMapFirmwareImage(const uint8_t** first, uint32_t* size) {
    *first = ResFirmwareImageData();
    *size = ResFirmwareImageSize();
}

const uint8_t* UiFirmwareImageDigest() {
    return FIRMWARE_IMAGE_SHA256;
}
