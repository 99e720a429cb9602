// Names the calling thread, for debuggers, top and the benchmarks.
#pragma once

void SetThreadName(const char* name);
