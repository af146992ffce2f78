// What the Win32 front-end asks of the pause beyond the clock port.
#pragma once

// Runs `task` once, at the start of the next pause, after that pause's deadline
// is set: what the task costs is then taken out of the pause's length instead of
// being added to the time between pauses. A later call before that pause replaces
// the task.
void RunAtNextPauseStart(void (*task)());
