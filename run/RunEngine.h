// The time lapse, for the window and tulk-cli alike: the clock (start + n ×
// interval on the monotonic clock), the picture step (capture, download
// with Save Every Time, erase with Delete After Download only after a whole
// and checked save), and what a rig left alone needs: a link that gets back
// in step after a fault, a lost camera looked for again with back-off, and
// the pictures of an outage fetched once it is back. Whoever drives a run
// hears of it through its events.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/eph.h"

// What a run needs of whoever owns the camera link.
class CRunCamera {
public:
    virtual ~CRunCamera() = default;
    // Runs work where camera work runs (the window's camera thread, or the
    // caller's) and returns once it is done; false when it was not run (the
    // program is quitting). The run's thread waits here, never the window's.
    virtual bool RunOnLink(const std::function<void()>& work) = 0;
    // On the link, from RunOnLink: the open link, null while there is none.
    virtual eph_iob* Link() = 0;
    // On the link, from RunOnLink: closes the link and opens it again as
    // Connect does (wake-up, speed switch, folders); true when the camera
    // answered. Link() is the new link afterwards (null when it failed).
    virtual bool Reopen() = 0;
};

struct RunSettings {
    std::chrono::milliseconds interval{7000};
    long frames = 0;  // pictures to take; 0: until stopped
    bool saveEveryTime = false;
    bool deleteAfter = false;
    std::string folder;  // where pictures are saved, ending in "/"
    std::int32_t focusMode = -1;
    // When set, asked before each tick's picture for Save Every Time and
    // Delete After Download as they are now (the window's boxes).
    std::function<std::pair<bool, bool>()> readAtTick;
    // Fields for the journal's start record, as text (program version,
    // camera model, connection, the camera's clock against the computer's).
    std::vector<std::pair<std::string, std::string>> about;
    // The longest wait between two looks for a lost camera.
    std::chrono::milliseconds longestRetry{30000};
};

struct RunEvent {
    enum Kind {
        Tick,          // a tick's picture step begins
        PictureSaved,  // path: the file; after the camera is done with it
        StepFailed,    // text: what went wrong with this tick's picture
        StepEnded,     // the tick's picture step and its events are done
        TickDropped,   // a picture step was still running
        CameraLost,    // text: "camera lost at 14:03:12"
        CameraBack,    // text: "camera back at ... after ..., n ticks missed"
        Ended,         // text: why
        Journal,       // path: the run's journal, made as the run starts
    };
    Kind kind = Tick;
    long tick = 0;  // from 1
    std::string path;
    std::string text;
    bool fromOutage = false;  // PictureSaved: a picture fetched after an outage
    int saveError = 0;        // StepFailed: the system error that kept the file from the disk
    std::string cameraName;   // PictureSaved: the picture's name on the camera
    // PictureSaved: the listener's word on publishing it, for the journal
    // ("published", "failed: ...", empty when not published).
    std::string published;
};

struct RunTotals {
    long taken = 0;    // pictures the camera took for the run
    long saved = 0;    // pictures saved whole
    long dropped = 0;  // ticks that came while a picture step ran
    long missed = 0;   // ticks that fell while the camera was lost
    long failed = 0;   // ticks whose picture step failed with the camera there
    long outages = 0;  // times the camera was lost
};

class CRunEngine {
public:
    using Listener = std::function<void(RunEvent&)>;

    explicit CRunEngine(CRunCamera& camera);
    ~CRunEngine();  // stops the run and waits for its end
    CRunEngine(const CRunEngine&) = delete;
    CRunEngine& operator=(const CRunEngine&) = delete;

    // Starts a run (a run still ending is waited for first, on the new
    // run's thread): its first tick one interval from now. With a folder,
    // the run keeps its journal there. The listener
    // hears every event on the run's thread, with the link not held, and
    // may take its time (a hook, publishing): ticks that come meanwhile are
    // dropped.
    void Start(const RunSettings& settings, Listener listener);
    // Asks the run to end after the picture step in hand; returns at once.
    // From any thread.
    void Stop();
    // Waits until the run has ended (not from the camera's own thread).
    void Wait();
    // A run is going on (and not asked to stop).
    bool Running() const;
    // The run's totals so far (the last run's once it ended).
    RunTotals Totals() const;
    // When the next tick falls due.
    std::chrono::steady_clock::time_point NextDue() const;

    // One run's state (RunEngine.cpp).
    struct Run;

private:
    std::shared_ptr<Run> Current() const;

    CRunCamera& camera_;
    // Stop, Running and the figures may be asked from any thread (a signal's,
    // the window's), while Start replaces the run.
    mutable std::mutex mutex_;
    std::shared_ptr<Run> run_;
    std::thread thread_;
};

// "14:03:12": a wall-clock time as the run's lines show it.
std::string RunClockText(std::chrono::system_clock::time_point when);
// "2 min 28 s", "5 s", "1 h 2 min": a duration as the run's lines show it.
std::string RunDurationText(std::chrono::steady_clock::duration duration);
