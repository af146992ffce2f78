// The update as the desktop shows it outside the program's windows: progress on
// the taskbar button or dock icon, and the outcome announced when the user is
// looking at another window. Nothing here may wait: the calls fall between the
// update's exchanges and pauses.
#pragma once
#include <cstdint>

// The transfer's position, 0..100, as the progress bar shows it; called when the
// transfer starts and then only when the position changes.
void TaskbarShowProgress(uint32_t position);
// The update has failed and its failure box, with this caption and text, opens
// next: the failed state from here until TaskbarShowEnded, and the text announced
// when the program's windows are not in front.
void TaskbarShowFailed(const char16_t* caption, const char16_t* text);
// The update is over: after success, with the success text, announced as above;
// after a failure, once its box is closed, with no text (null). Clears whatever
// the update showed.
void TaskbarShowEnded(const char16_t* text);
