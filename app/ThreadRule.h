// The controller's threading rule: the window thread never waits for the
// camera link, and no thread that holds the link waits for the window.
// Breaking it hangs the program the first time both wait at once, which may
// be weeks into use; so every place where a thread could begin such a wait
// checks first, and a build with the check on stops at once with the reason.
#pragma once

// The thread that runs the window (the application's own thread).
bool OnWindowThread();
// Installs the link's check: the window thread may not wait for the link.
void InstallThreadRule();
// A thread is about to ask the window for something and wait for it (a
// box, a blocking call); it may not hold the link meanwhile.
void CheckMayWaitForWindow(const char* what);
// The rule was broken: with the check built in, says what happened and
// stops the program; otherwise writes it to the activity log.
void ThreadRuleBroken(const char* what);
