// What the update needs from the system around it while the controller is at
// risk, from the lock request until its last exchange: that nothing the system or
// the session does (sleep, the lid, shutdown, logout, a terminate signal) ends the
// program half way and leaves an erased controller. Each platform holds off what
// it can. The guard is best effort: when the system refuses it or has no such
// service, the update goes on as it would without it.
#pragma once

// Taken once an update has passed every question and the image check, just before
// its first request; reason is the text the system may show for it.
void UpdateGuardTake(const char16_t* reason);

// Ends what UpdateGuardTake holds, before the update's result is shown. Input
// given to the program's windows meanwhile is dropped, so that it cannot answer a
// box shown after the transfer; what the platform kept back for the update's end
// (a terminate signal) is acted on. Does nothing when nothing is held, so a
// second call, or one without a take, is harmless.
void UpdateGuardRelease();
