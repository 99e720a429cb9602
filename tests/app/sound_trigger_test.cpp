// The sound trigger in the window, on a real sound server (scripts/test.sh
// starts PulseAudio with a null sink and a source that hears it) and the
// simulated camera: tones played into the sink take a picture or do not,
// the second press ends the wait, and without a sound server the wait runs
// all the same.
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/SoundTrigger.h"
#include "log/platform/debug_output.h"
#include "tests/app/camera_rig.h"
#include "tests/sound/tone.h"

namespace {

std::mutex g_traceMutex;
QString g_trace;
void Trace(const char* text) {
    std::lock_guard lock(g_traceMutex);
    g_trace += QString::fromUtf8(text);
}
QString TraceText() {
    std::lock_guard lock(g_traceMutex);
    return g_trace;
}

// Plays a tone on a thread of its own while the window waits.
class Player {
public:
    Player(const QString& wav) : wav_(wav.toStdString()) {}
    ~Player() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    void Play() {
        thread_ = std::thread([this] {
            status_ = PlayWav(wav_);
            done_ = true;
        });
    }
    bool Done() const { return done_; }
    int Status() const { return status_; }

private:
    std::string wav_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<int> status_{-1};
};

// What the meter and the activity indicator showed during the wait.
struct Watch {
    int highestLevel = 0;
    int activitySteps = 0;
    int lastActivity = -1;
};

}  // namespace

class SoundTriggerTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;

    QString Tone(const char* name, int amplitude, double seconds) {
        const QString path = dir_.filePath(name);
        if (!WriteToneWav(path.toStdString(), amplitude, seconds)) {
            return {};
        }
        return path;
    }
    // Presses the button as a user does, through the window's input.
    static void Press(CameraRig& rig) {
        QTest::mouseClick(rig.Find<QPushButton>("btnSoundTrigger"), Qt::LeftButton);
    }
    // Runs the wait (the first press) with what the test does meanwhile
    // queued on the window thread; a wait still running after 20 s is ended
    // by a second press, and the test then fails on what it finds.
    static void RunWait(CameraRig& rig, Watch* watch, const std::function<void()>& during) {
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, &rig.Window(), [&rig, watch] {
            const int level = rig.Find<QProgressBar>("m_progLevel")->value();
            watch->highestLevel = std::max(watch->highestLevel, level);
            const int activity = rig.Find<QProgressBar>("m_progActivity")->value();
            if (activity != watch->lastActivity) {
                ++watch->activitySteps;
                watch->lastActivity = activity;
            }
        });
        sampler.start(5);
        QTimer::singleShot(0, &rig.Window(), during);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &rig.Window(), [&rig] { Press(rig); });
        guard.start(20000);
        rig.Click("btnSoundTrigger");
        guard.stop();
        sampler.stop();
    }
    void Connected(CameraRig& rig, int threshold) {
        rig.ConnectUsb();
        QCOMPARE(g_bConnected.load(), 1);
        rig.Find<QSlider>("m_sliderThreshold")->setValue(threshold);
        rig.camera.clearRecord();
    }
    static void CheckWaitEnded(CameraRig& rig) {
        QCOMPARE(g_bTriggerRunning.load(), 0);
        QCOMPARE(g_bTriggerStop.load(), 0);
        QCOMPARE(rig.Find<QProgressBar>("m_progLevel")->value(), 0);
        QVERIFY(TraceText().contains("Wait for trigger\n"));
        QVERIFY(TraceText().contains("Stopping\n"));
        // Every buffer came back in time.
        QVERIFY(!TraceText().contains("buffers in waveIn queue"));
    }

private slots:
    void init() {
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"),
                 "the tests need the sound server that scripts/test.sh starts");
        {
            std::lock_guard lock(g_traceMutex);
            g_trace.clear();
        }
        set_debug_hook(&Trace);
    }
    void cleanup() { set_debug_hook(nullptr); }

    void loudToneTakesOnePictureAndEndsTheWait() {
        CameraRig rig;
        Connected(rig, 10000);
        Player player(Tone("loud.wav", 20000, 1.5));
        Watch watch;
        RunWait(rig, &watch, [&player] { player.Play(); });
        QCOMPARE(g_bSoundTriggered.load(), std::int16_t(1));
        QCOMPARE(rig.Actions(C990_C2_SNAPSHOT).size(), std::size_t(1));
        QCOMPARE(rig.camera.pictures().size(), std::size_t(4));
        // The counters were read again at the end.
        QCOMPARE(rig.Find<QLineEdit>("m_editPictures")->text(), QString("4"));
        QVERIFY(TraceText().contains("Triggered\n"));
        CheckWaitEnded(rig);
        // The trigger is one-shot: the rest of the tone takes nothing more.
        QTRY_VERIFY_WITH_TIMEOUT(player.Done(), 5000);
        QCOMPARE(player.Status(), 0);
        QCOMPARE(rig.Actions(C990_C2_SNAPSHOT).size(), std::size_t(1));
    }

    void quietToneTakesNoPicture() {
        CameraRig rig;
        Connected(rig, 20000);
        Player player(Tone("quiet.wav", 6000, 1.0));
        Watch watch;
        RunWait(rig, &watch, [&rig, &player] {
            player.Play();
            // The tone has played out: the user gives up.
            auto* poll = new QTimer(&rig.Window());
            QObject::connect(poll, &QTimer::timeout, &rig.Window(), [&rig, &player, poll] {
                if (player.Done()) {
                    poll->stop();
                    QTimer::singleShot(200, &rig.Window(), [&rig] { Press(rig); });
                }
            });
            poll->start(20);
        });
        QCOMPARE(player.Status(), 0);
        QCOMPARE(g_bSoundTriggered.load(), std::int16_t(0));
        QVERIFY(rig.Actions(C990_C2_SNAPSHOT).empty());
        // The meter showed the tone, below the level.
        QVERIFY2(watch.highestLevel > 4000 && watch.highestLevel < 20000,
                 qPrintable(QString::number(watch.highestLevel)));
        QVERIFY(!TraceText().contains("Triggered"));
        CheckWaitEnded(rig);
    }

    void thresholdZeroFiresOnTheFirstPositiveSample() {
        CameraRig rig;
        Connected(rig, 0);
        Player player(Tone("faint.wav", 40, 1.0));
        Watch watch;
        RunWait(rig, &watch, [&player] { player.Play(); });
        QCOMPARE(g_bSoundTriggered.load(), std::int16_t(1));
        QCOMPARE(rig.Actions(C990_C2_SNAPSHOT).size(), std::size_t(1));
        CheckWaitEnded(rig);
    }

    // The slider is read at every pass: lowered during the wait, the tone
    // that was too quiet for it fires.
    void sliderMovedDuringTheWaitTakesEffect() {
        CameraRig rig;
        Connected(rig, 32767);
        Player player(Tone("long.wav", 15000, 3.0));
        Watch watch;
        RunWait(rig, &watch, [&rig, &player] {
            player.Play();
            QTimer::singleShot(800, &rig.Window(), [&rig] {
                QVERIFY(g_bSoundTriggered.load() == 0);
                rig.Find<QSlider>("m_sliderThreshold")->setValue(5000);
            });
        });
        QCOMPARE(g_bSoundTriggered.load(), std::int16_t(1));
        QCOMPARE(g_nSoundThreshold.load(), std::int16_t(5000));
        QCOMPARE(rig.Actions(C990_C2_SNAPSHOT).size(), std::size_t(1));
        CheckWaitEnded(rig);
    }

    void secondPressEndsTheWaitWithoutAPicture() {
        CameraRig rig;
        Connected(rig, 32767);
        Watch watch;
        RunWait(rig, &watch, [&rig] {
            QTimer::singleShot(600, &rig.Window(), [&rig] {
                QCOMPARE(g_bTriggerRunning.load(), 1);
                Press(rig);
            });
        });
        QCOMPARE(g_bSoundTriggered.load(), std::int16_t(0));
        QVERIFY(rig.Actions(C990_C2_SNAPSHOT).empty());
        // The indicator stepped during the wait, and the counters were read.
        QVERIFY(watch.activitySteps >= 5);
        bool counted = false;
        for (const auto& c : rig.camera.commands()) {
            counted = counted || c.command == 1;
        }
        QVERIFY(counted);
        CheckWaitEnded(rig);
        // A new press starts a new wait.
        RunWait(rig, &watch,
                [&rig] { QTimer::singleShot(200, &rig.Window(), [&rig] { Press(rig); }); });
        QCOMPARE(TraceText().count("Wait for trigger\n"), 2);
        CheckWaitEnded(rig);
    }

    void withoutASoundServerTheWaitStillRunsAndEnds() {
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/pulse/native");
        CameraRig rig;
        Connected(rig, 0);
        Watch watch;
        RunWait(rig, &watch,
                [&rig] { QTimer::singleShot(500, &rig.Window(), [&rig] { Press(rig); }); });
        qputenv("PULSE_SERVER", server);
        QVERIFY(TraceText().contains("WAVEIN:"));
        QVERIFY(TraceText().contains(" in Start()"));
        QCOMPARE(watch.highestLevel, 0);
        QVERIFY(watch.activitySteps >= 5);
        QCOMPARE(g_bSoundTriggered.load(), std::int16_t(0));
        QVERIFY(rig.Actions(C990_C2_SNAPSHOT).empty());
        CheckWaitEnded(rig);
    }

    void withoutACameraThePressDoesNothing() {
        CameraRig rig;
        rig.Window();
        rig.Click("btnSoundTrigger");
        QCOMPARE(g_bTriggerRunning.load(), 0);
        QVERIFY(!TraceText().contains("Wait for trigger"));
        QVERIFY(rig.camera.commands().empty());
    }
};

QTEST_MAIN(SoundTriggerTest)
#include "sound_trigger_test.moc"
