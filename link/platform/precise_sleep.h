#pragma once

// Sleeps until the given number of nanoseconds has passed on the monotonic
// clock, with the thread's timer slack made as small as the system allows, so
// that pauses of a millisecond or two hold without occupying a processor.
void precise_sleep_ns(long long nanoseconds);
