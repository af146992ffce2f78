// Arbitrary report descriptors, as a device hands them to the Linux HID layer:
// the parser reads nothing beyond the descriptor (the fuzzer hands it a buffer of
// exactly its size), accepts or refuses it with 0 or -1, and gives the same sizes
// for the same bytes.
#include <cstddef>
#include <cstdint>

#include "device/hid/report_descriptor.h"
#include "tests/faults/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReportDescriptorSizes first{};
    const int result = ParseReportDescriptor(data, size, &first);
    Require(result == 0 || result == -1, "result 0 or -1");
    if (result != 0) {
        return 0;
    }
    ReportDescriptorSizes second{};
    Require(ParseReportDescriptor(data, size, &second) == 0, "same verdict twice");
    Require(first.inputReportLength == second.inputReportLength &&
                first.outputReportLength == second.outputReportLength &&
                first.featureReportLength == second.featureReportLength &&
                first.usesReportIds == second.usesReportIds,
            "same sizes twice");
    // A report always carries its ID byte; an absent one is 0.
    Require(first.inputReportLength != 1 && first.outputReportLength != 1 &&
                first.featureReportLength != 1,
            "no report of the ID byte alone");
    return 0;
}
