// Quitting with a camera that no longer answers: the link's time-outs would
// hold the program for a minute and more. While the program quits, a wait on
// the camera that has heard nothing for a few seconds ends as a time-out, and
// every wait after it ends at once. A camera that answers is never cut off:
// a download under way finishes.
#pragma once

#include <chrono>

void link_set_quitting(bool quitting);

// True when the wait that began then should end now; the first such wait
// gives the link up for the rest of the quitting.
bool link_wait_cut(std::chrono::steady_clock::time_point began);

// The camera sent something: while quitting, a camera that keeps sending is
// waited for, and one that has sent nothing for a few seconds since the quit
// began is given up, however short each of the waits on it.
void link_heard();

// A wait was cut since quitting began.
bool link_gave_up();

// For fuzzing: every wait on the camera ends as a time-out after this much
// silence (zero, the start: the link's own time-outs).
void link_set_longest_silence(std::chrono::microseconds limit);

// How long a wait may sleep before it looks again whether it is cut.
std::chrono::microseconds link_wait_slice();
