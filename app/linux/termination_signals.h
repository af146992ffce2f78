// SIGTERM, SIGINT and SIGHUP end the Linux programs as Close ends them: the unit
// closed, exit code 0. While the update guard is held such a signal is kept, and
// the guard's release acts on it once the controller is no longer at risk.
#pragma once

class MainDialogWindow;

// Installs the handlers; false when the self-pipe cannot be made (the signals then
// keep their default action).
bool InstallTerminationSignals(MainDialogWindow* dialog);

// From now on a signal is kept rather than acted on.
void HoldTerminationSignals();
// Ends the hold. A signal kept meanwhile, or one not yet noticed, ends the dialog
// once the running command (the update) is over; no event loop is needed to see it.
void ReleaseTerminationSignals();
