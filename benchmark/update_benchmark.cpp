// How long a whole update takes beyond the pauses it must take. The simulated unit
// answers every request at once, the pauses are real, and no window is drawn, so
// what is left over the mandated pauses is the program's own overhead: the
// exchanges, the text handling and how exactly the platform's sleep keeps time.
// Prints its figures and asserts nothing about them; exits 1 only when the update
// itself did not write the image.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "app/detection.h"
#include "update/ui_port.h"
#include "device/command_reports.h"
#include "device/hid/sim_world.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"
#include "benchmark/clocks.h"
#include "benchmark/pause_log.h"
#include "benchmark/pauses_alone.h"
#include "benchmark/update_figures.h"
#include "update/transfer_image.h"
#include "update/update_procedure.h"

extern std::map<int, std::u16string> g_controlTexts;
extern int g_errorBoxes;

int main() {
    const int unit = SimAddInterface(SimReadyUnit());
    ResetUnitConnection();
    DetectUnit();
    if (!UnitIsOpen()) {
        std::fprintf(stderr, "the simulated unit was not detected as ready\n");
        return 1;
    }

    const uint32_t imageSize = ResFirmwareImageSize();
    StartPauseLog();
    const ClockReading start = ReadClocks();
    UpdateProcedure();
    const ClockReading elapsed = ElapsedSince(start);
    const PauseLog pauses = StopPauseLog();

    const uint8_t* image = ResFirmwareImageData();
    const std::vector<uint8_t>& flash = SimGetInterface(unit).controller.flash;
    char16_t success[TEXT_BUFFER_CHARS];
    ResLoadString(IDS_UPDATE_SUCCESSFUL, RES_LANG_ENGLISH, success, TEXT_BUFFER_CHARS);
    const bool written = g_errorBoxes == 0 && g_controlTexts[IDC_STATUS_PANE] == success &&
                         flash.size() >= imageSize &&
                         std::equal(image, image + imageSize, flash.begin());
    PrintUpdateFigures("whole update without windows, " + std::to_string(SimExchangeCount() - 3) +
                           " exchanges",
                       imageSize, written, elapsed);
    PrintUpdatePauses(imageSize, elapsed, pauses);
    PrintPausesAloneFigures(imageSize, elapsed, TimePausesAlone(imageSize));
    CloseUnit();
    return written ? 0 : 1;
}
