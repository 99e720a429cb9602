// Whether the camera still answers, judged on the camera thread from what
// the link reports: a failed platform call (a device gone, a write error)
// or time-outs in job after job mean the link no longer works; a job with
// nothing to report means it works again.
#pragma once

// The link's error callback while connected: counts what it sees, then
// reports as the link's own callback does.
void LinkHealthErrorCallback(int code, const char* message);
// Camera thread: begins a job's count.
void LinkHealthBeginJob();
enum class LinkState { Answering, Unsure, Failing };
// Camera thread: what the job just run says of the link.
LinkState LinkHealthEndJob();
// Camera thread: forget what was seen (a new link).
void LinkHealthReset();
