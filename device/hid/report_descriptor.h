// Report sizes from a HID report descriptor, counted the way the Windows HID
// capabilities count them, so that every platform hands the device link the
// same report lengths.
#pragma once
#include <cstddef>
#include <cstdint>

struct ReportDescriptorSizes {
    // Largest report of each kind in the first top-level collection, in bytes plus
    // one byte for the report ID (also when the device numbers no reports); 0 when
    // that collection has no such report.
    uint16_t inputReportLength;
    uint16_t outputReportLength;
    uint16_t featureReportLength;
    // True when the descriptor declares report IDs in any collection (every report then begins with
    // its ID on the wire; otherwise hidraw leaves the ID byte out of input reports).
    bool usesReportIds;
};

// 0 on success. -1 for a descriptor that cannot be trusted: an item that runs past
// the end, a report ID of 0 or above 255, a Pop without Push, Push nested too
// deep, or a report longer than 65,534 bytes. Reads nothing beyond `length` bytes.
int ParseReportDescriptor(const uint8_t* descriptor, size_t length, ReportDescriptorSizes* sizes);
