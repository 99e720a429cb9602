#include "run/RunEngine.h"

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <tuple>
#include <vector>

#include "camera/camera_ops.h"
#include "camera/download.h"
#include "camera/picture_steps.h"
#include "camera/registers.h"
#include "link/platform/give_up.h"
#include "log/activity_log.h"
#include "run/RunJournal.h"
#include "run/sha256.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSource = "run";
// While the run looks for a lost camera, a camera silent this long is not
// there: the link's own waits (a minute for an acknowledgement) would
// stretch every look.
constexpr auto kLookSilence = std::chrono::seconds(2);
constexpr auto kFirstRetry = std::chrono::seconds(1);
// A picture that the camera answers for but that will not come whole is
// tried this often, then left on the camera.
constexpr int kDownloadAttempts = 3;

// A picture the run took and has not saved: its place on the camera and
// the name it had then (empty when unknown).
struct Pending {
    int number = 0;
    std::string name;
    int attempts = 0;
    long tick = 0;  // the tick that took it
};

void Log(const std::string& text) {
    WriteLog(kSource, __LINE__, text.c_str());
}

// The camera answers on a clean line.
bool Answering(eph_iob* iob) {
    return iob && eph_drain(iob) == 0 && GetFrameCount(iob) >= 0;
}

// Waits on the link's silence limit for as long as it lives.
class LookPatience {
public:
    LookPatience() { link_set_longest_silence(kLookSilence); }
    ~LookPatience() { link_set_longest_silence(std::chrono::microseconds(0)); }
    LookPatience(const LookPatience&) = delete;
    LookPatience& operator=(const LookPatience&) = delete;
};

}  // namespace

struct CRunEngine::Run {
    RunSettings settings;
    Listener listener;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::atomic<bool> running{true};
    std::atomic<long> taken{0}, saved{0}, dropped{0}, missed{0}, failed{0}, outages{0};
    std::atomic<Clock::rep> nextDue{0};
    Clock::time_point start;
    std::chrono::system_clock::time_point wallStart;
    CRunJournal journal;

    // Link state, touched only inside RunOnLink.
    std::deque<Pending> pending;
    // The count before a capture whose outcome the outage hid; -1: none.
    int unknownCaptureBefore = -1;

    bool Stopping() {
        std::lock_guard lock(mutex);
        return stop;
    }
    // Sleeps until then or a stop; false on a stop.
    bool SleepUntil(Clock::time_point then) {
        std::unique_lock lock(mutex);
        return !wake.wait_until(lock, then, [this] { return stop; });
    }
    Clock::time_point Due(long tick) const { return start + tick * settings.interval; }
    // The first tick due after now.
    long NextTickAfter(Clock::time_point now) const {
        if (now < start) {
            return 1;
        }
        return static_cast<long>((now - start) / settings.interval) + 1;
    }
    void Emit(RunEvent& event) {
        if (listener) {
            listener(event);
        }
    }
    void Emit(RunEvent&& event) { Emit(event); }
    bool Done() const { return settings.frames > 0 && taken >= settings.frames; }
};

namespace {

// What one trip to the link came to.
struct Outcome {
    bool lost = false;
    bool pictureTaken = false;
    std::chrono::system_clock::time_point takenAt{};
    std::vector<RunEvent> events;
};

}  // namespace

namespace run_detail {

void Saved(CRunEngine::Run& run, Outcome& out, long tick, const std::string& path,
           const std::string& cameraName, bool fromOutage) {
    ++run.saved;
    RunEvent event;
    event.kind = RunEvent::PictureSaved;
    event.tick = tick;
    event.path = path;
    event.cameraName = cameraName;
    event.fromOutage = fromOutage;
    out.events.push_back(std::move(event));
}

void Failed(Outcome& out, long tick, const std::string& text, int saveError = 0) {
    Log(text);
    RunEvent event;
    event.kind = RunEvent::StepFailed;
    event.tick = tick;
    event.text = text;
    event.saveError = saveError;
    out.events.push_back(std::move(event));
}

// Erases the newest picture after it was saved, when the save allows it.
void EraseSaved(CRunEngine::Run& run, eph_iob* iob, Outcome& out, long tick) {
    if (!run.settings.deleteAfter) {
        return;
    }
    std::string why;
    const CameraChange erased = EraseAfterDownload(iob, &why);
    if (erased == CameraChange::Unknown) {
        out.lost = true;
    }
    if (erased != CameraChange::Done) {
        Failed(out, tick, "picture kept on the camera: " + why);
    }
}

// Settles what the outage left open: the capture whose answer was lost,
// then the pictures taken and not saved, oldest first. Sets out.lost when
// the camera stops answering again.
void CatchUp(CRunEngine::Run& run, eph_iob* iob, Outcome& out, long tick) {
    if (run.unknownCaptureBefore >= 0) {
        const CameraChange change = CountShowsCapture(iob, run.unknownCaptureBefore);
        if (change == CameraChange::Unknown) {
            out.lost = true;
            return;
        }
        if (change == CameraChange::Done) {
            ++run.taken;
            out.pictureTaken = true;
            if (run.settings.saveEveryTime) {
                run.pending.push_back({run.unknownCaptureBefore + 1, {}, 0, tick});
            }
        }
        run.unknownCaptureBefore = -1;
    }
    while (!run.pending.empty()) {
        Pending& picture = run.pending.front();
        std::string name;
        const bool there =
            eph_setint(iob, C990_CURRENTFRAME, picture.number) == 0 && ReadPictureName(iob, &name);
        if (!there) {
            if (!Answering(iob)) {
                out.lost = true;
                return;
            }
            Failed(out, tick,
                   "picture " + std::to_string(picture.number) + " is no longer on the camera");
            run.pending.pop_front();
            continue;
        }
        if (!picture.name.empty() && name != picture.name) {
            Failed(out, tick,
                   "picture " + std::to_string(picture.number) + " (" + picture.name +
                       ") is no longer on the camera: another is in its place");
            run.pending.pop_front();
            continue;
        }
        std::string saved;
        if (DownloadNumberedPicture(iob, picture.number, run.settings.folder, &saved) != 0) {
            if (!Answering(iob)) {
                out.lost = true;
                return;
            }
            if (++picture.attempts >= kDownloadAttempts) {
                Failed(out, tick,
                       "picture " + std::to_string(picture.number) +
                           " could not be saved whole; it stays on the camera");
                run.pending.pop_front();
            }
            return;
        }
        const int number = picture.number;
        const bool known = !picture.name.empty();
        const long itsTick = picture.tick;
        run.pending.pop_front();
        Saved(run, out, itsTick, saved, name, true);
        // Only the newest picture can be erased, and only one whose name was
        // noted when it was taken: a camera that started again may hold
        // another picture in its place, which the run never took.
        if (run.settings.deleteAfter && known && GetFrameCount(iob) == number) {
            EraseSaved(run, iob, out, tick);
            if (out.lost) {
                return;
            }
        }
    }
}

// One tick's picture: catch up, capture, save, erase.
void PictureStep(CRunEngine::Run& run, eph_iob* iob, Outcome& out, long tick) {
    if (!iob) {
        out.lost = true;
        return;
    }
    CatchUp(run, iob, out, tick);
    if (out.lost) {
        return;
    }
    int before = -1;
    const CameraChange capture = CaptureChecked(iob, run.settings.focusMode, &before);
    if (capture == CameraChange::Unknown) {
        run.unknownCaptureBefore = before;
        out.lost = true;
        return;
    }
    if (capture == CameraChange::NotDone) {
        if (!Answering(iob)) {
            out.lost = true;
            return;
        }
        ++run.failed;
        Failed(out, tick, "the camera did not take picture " + std::to_string(tick));
        return;
    }
    ++run.taken;
    out.pictureTaken = true;
    out.takenAt = std::chrono::system_clock::now();
    if (!run.settings.saveEveryTime) {
        return;
    }
    // The new picture is the camera's last; its name is noted now, so that
    // a download cut short is finished with the right picture.
    std::string name;
    const int number = before >= 0 ? before + 1 : GetFrameCount(iob);
    ReadPictureName(iob, &name);
    std::string saved;
    if (DownloadNewestPicture(iob, run.settings.folder, &saved) != 0) {
        if (number > 0) {
            run.pending.push_back({number, name, 1, tick});
        }
        if (!Answering(iob)) {
            out.lost = true;
            return;
        }
        Failed(out, tick, "picture " + std::to_string(tick) + " was not saved; trying again",
               LastSaveError());
        return;
    }
    Saved(run, out, tick, saved, name, false);
    EraseSaved(run, iob, out, tick);
}

}  // namespace run_detail

namespace {

std::string ClockText(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    localtime_r(&t, &parts);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

}  // namespace

std::string RunClockText(std::chrono::system_clock::time_point when) {
    return ClockText(when);
}

std::string RunDurationText(std::chrono::steady_clock::duration duration) {
    long long s = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    if (s < 0) {
        s = 0;
    }
    char text[48];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%lld h %lld min", s / 3600, s % 3600 / 60);
    } else if (s >= 60) {
        std::snprintf(text, sizeof text, "%lld min %lld s", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld s", s);
    }
    return text;
}

namespace {

// The journal's records. Each is written before the next tick.
class JournalWriter {
public:
    explicit JournalWriter(CRunEngine::Run& run) : run_(run) {}

    void Start() {
        if (run_.settings.folder.empty() ||
            !run_.journal.Create(run_.settings.folder, run_.wallStart)) {
            return;
        }
        RunEvent event;
        event.kind = RunEvent::Journal;
        event.path = run_.journal.Path();
        run_.Emit(event);
        CJsonRecord record("start");
        record.Text("time", IsoTime(run_.wallStart)).Text("version", TULK_VERSION);
        for (const auto& [key, value] : run_.settings.about) {
            record.Text(key.c_str(), value);
        }
        record.Number("interval_ms", run_.settings.interval.count())
            .Number("frames", run_.settings.frames)
            .Flag("save_every_time", run_.settings.saveEveryTime)
            .Flag("delete_after_download", run_.settings.deleteAfter)
            .Text("folder", run_.settings.folder);
        run_.journal.Write(record);
    }

    // A tick's record, with the outcome and what became of its picture.
    void Tick(long tick, const char* outcome, const Outcome* out = nullptr) {
        CJsonRecord record("tick");
        Scheduled(record, tick).Text("outcome", outcome);
        std::string why;
        if (out) {
            if (out->pictureTaken) {
                record.Text("taken", IsoTime(out->takenAt));
            }
            for (const RunEvent& event : out->events) {
                if (event.kind == RunEvent::PictureSaved && !event.fromOutage &&
                    event.tick == tick) {
                    Picture(record, event);
                } else if (event.kind == RunEvent::StepFailed) {
                    why += (why.empty() ? "" : "; ") + event.text;
                }
            }
        }
        if (!why.empty()) {
            record.Text("why", why);
        }
        record.Number("free_bytes", FreeBytes(run_.settings.folder));
        run_.journal.Write(record);
    }

    // A picture of an earlier tick, fetched once the camera was back.
    void Late(const RunEvent& event) {
        CJsonRecord record("picture");
        record.Number("tick", event.tick).Text("time", IsoTime(std::chrono::system_clock::now()));
        Picture(record, event);
        run_.journal.Write(record);
    }

    void Lost(const std::string& time) {
        CJsonRecord record("camera-lost");
        record.Text("time", time);
        run_.journal.Write(record);
    }

    void Back(std::chrono::steady_clock::duration outage, long missed) {
        CJsonRecord record("camera-back");
        record.Text("time", IsoTime(std::chrono::system_clock::now()))
            .Number("after_ms",
                    std::chrono::duration_cast<std::chrono::milliseconds>(outage).count())
            .Number("missed", missed);
        run_.journal.Write(record);
    }

    void End(const std::string& why) {
        CJsonRecord record("end");
        record.Text("time", IsoTime(std::chrono::system_clock::now()))
            .Text("why", why)
            .Number("taken", run_.taken)
            .Number("saved", run_.saved)
            .Number("dropped", run_.dropped)
            .Number("missed", run_.missed)
            .Number("failed", run_.failed)
            .Number("outages", run_.outages);
        run_.journal.Write(record);
    }

private:
    CJsonRecord& Scheduled(CJsonRecord& record, long tick) {
        const auto offset = tick * run_.settings.interval;
        return record.Number("tick", tick)
            .Text("scheduled",
                  IsoTime(run_.wallStart +
                          std::chrono::duration_cast<std::chrono::system_clock::duration>(offset)))
            .Number("offset_ms", offset.count());
    }
    static void Picture(CJsonRecord& record, const RunEvent& event) {
        record.Text("camera_name", event.cameraName).Text("file", event.path);
        std::string sha;
        long long bytes = 0;
        if (FileSha256(event.path, &sha, &bytes)) {
            record.Number("bytes", bytes).Text("sha256", sha);
        }
        if (!event.published.empty()) {
            record.Text("published", event.published);
        }
    }

    CRunEngine::Run& run_;
};

// The run's thread: ticks on the grid, picture steps on the link, and the
// looks for a lost camera.
void RunLoop(CRunEngine::Run& run, CRunCamera& camera) {
    using run_detail::PictureStep;
    JournalWriter journal(run);
    journal.Start();
    std::string why = "stopped";
    long tick = 1;
    while (!run.Done()) {
        run.nextDue = run.Due(tick).time_since_epoch().count();
        if (!run.SleepUntil(run.Due(tick))) {
            break;
        }
        RunEvent begin;
        begin.kind = RunEvent::Tick;
        begin.tick = tick;
        run.Emit(begin);
        if (run.settings.readAtTick) {
            std::tie(run.settings.saveEveryTime, run.settings.deleteAfter) =
                run.settings.readAtTick();
        }
        Outcome out;
        // A step that was queued behind a stop is not taken.
        bool skipped = false;
        if (!camera.RunOnLink([&] {
                skipped = run.Stopping();
                if (!skipped) {
                    PictureStep(run, camera.Link(), out, tick);
                }
            })) {
            why = "the camera link was closed";
            break;
        }
        if (skipped) {
            journal.Tick(tick, "stopped");
            break;
        }
        for (RunEvent& event : out.events) {
            run.Emit(event);
            if (event.kind == RunEvent::PictureSaved && event.fromOutage) {
                journal.Late(event);
            }
        }
        journal.Tick(tick, out.pictureTaken ? "taken" : out.lost ? "missed" : "failed", &out);
        RunEvent ended;
        ended.kind = RunEvent::StepEnded;
        ended.tick = tick;
        run.Emit(ended);
        if (!out.lost) {
            const long next = run.NextTickAfter(Clock::now());
            for (long skipped = tick + 1; skipped < next; ++skipped) {
                ++run.dropped;
                RunEvent event;
                event.kind = RunEvent::TickDropped;
                event.tick = skipped;
                run.Emit(event);
                journal.Tick(skipped, "dropped");
            }
            tick = next > tick ? next : tick + 1;
            continue;
        }

        // The camera is lost: look for it again, less and less often,
        // until it answers or the user ends the run.
        ++run.outages;
        const auto lostAt = Clock::now();
        const auto lostWall = std::chrono::system_clock::now();
        const long firstMissed = tick + 1;
        if (!out.pictureTaken) {
            ++run.missed;
        }
        RunEvent lost;
        lost.kind = RunEvent::CameraLost;
        lost.tick = tick;
        lost.text = "camera lost at " + ClockText(lostWall);
        Log(lost.text);
        run.Emit(lost);
        journal.Lost(IsoTime(lostWall));
        auto retry = std::chrono::duration_cast<std::chrono::milliseconds>(kFirstRetry);
        bool back = false;
        Outcome caught;
        while (!back) {
            if (!run.SleepUntil(Clock::now() + retry)) {
                break;
            }
            const bool closed = !camera.RunOnLink([&] {
                if (run.Stopping()) {
                    return;
                }
                {
                    LookPatience patience;
                    back = Answering(camera.Link()) || camera.Reopen();
                }
                if (back) {
                    run_detail::CatchUp(run, camera.Link(), caught, tick);
                    back = !caught.lost;
                    caught.lost = false;
                }
            });
            if (closed) {
                why = "the camera link was closed";
                break;
            }
            retry = retry * 2 < run.settings.longestRetry ? retry * 2 : run.settings.longestRetry;
        }
        const long next = run.NextTickAfter(Clock::now());
        const long missedAfter = next > firstMissed ? next - firstMissed : 0;
        run.missed += missedAfter;
        for (long missed = firstMissed; missed < next; ++missed) {
            journal.Tick(missed, "missed");
        }
        const long missed = missedAfter + (out.pictureTaken ? 0 : 1);
        if (!back) {
            break;
        }
        RunEvent event;
        event.kind = RunEvent::CameraBack;
        event.tick = tick;
        event.text = "camera back at " + ClockText(std::chrono::system_clock::now()) + " after " +
                     RunDurationText(Clock::now() - lostAt) + ", " + std::to_string(missed) +
                     (missed == 1 ? " tick missed" : " ticks missed");
        Log(event.text);
        run.Emit(event);
        journal.Back(Clock::now() - lostAt, missed);
        for (RunEvent& e : caught.events) {
            run.Emit(e);
            if (e.kind == RunEvent::PictureSaved) {
                journal.Late(e);
            }
        }
        tick = next > tick ? next : tick + 1;
    }
    if (run.Done()) {
        why = "all " + std::to_string(run.settings.frames) + " pictures taken";
    }
    journal.End(why);
    run.running = false;
    RunEvent end;
    end.kind = RunEvent::Ended;
    end.text = why;
    run.Emit(end);
}

}  // namespace

CRunEngine::CRunEngine(CRunCamera& camera) : camera_(camera) {}

CRunEngine::~CRunEngine() {
    Stop();
    Wait();
}

void CRunEngine::Start(const RunSettings& settings, Listener listener) {
    Stop();
    auto run = std::make_shared<Run>();
    run->settings = settings;
    if (run->settings.interval <= std::chrono::milliseconds(0)) {
        run->settings.interval = std::chrono::milliseconds(1);
    }
    run->listener = std::move(listener);
    run->start = Clock::now();
    run->wallStart = std::chrono::system_clock::now();
    run->nextDue = run->Due(1).time_since_epoch().count();
    {
        std::lock_guard lock(mutex_);
        run_ = run;
    }
    std::thread previous = std::move(thread_);
    thread_ = std::thread([this, run, previous = std::move(previous)]() mutable {
        if (previous.joinable()) {
            previous.join();
        }
        RunLoop(*run, camera_);
    });
}

std::shared_ptr<CRunEngine::Run> CRunEngine::Current() const {
    std::lock_guard lock(mutex_);
    return run_;
}

void CRunEngine::Stop() {
    const std::shared_ptr<Run> run = Current();
    if (!run) {
        return;
    }
    {
        std::lock_guard lock(run->mutex);
        run->stop = true;
    }
    run->wake.notify_all();
}

void CRunEngine::Wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool CRunEngine::Running() const {
    const std::shared_ptr<Run> run = Current();
    return run && run->running && !run->Stopping();
}

RunTotals CRunEngine::Totals() const {
    RunTotals totals;
    if (const std::shared_ptr<Run> run = Current()) {
        totals.taken = run->taken;
        totals.saved = run->saved;
        totals.dropped = run->dropped;
        totals.missed = run->missed;
        totals.failed = run->failed;
        totals.outages = run->outages;
    }
    return totals;
}

std::chrono::steady_clock::time_point CRunEngine::NextDue() const {
    const std::shared_ptr<Run> run = Current();
    if (!run) {
        return {};
    }
    return Clock::time_point(Clock::duration(run->nextDue.load()));
}
