// The sound trigger: the wait on the window thread with its level meter, and
// the level analyser on the capture thread, which takes the picture there.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QProgressBar>
#include <QSlider>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/SoundTrigger.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "log/activity_log.h"
#include "log/platform/debug_output.h"
#include "sound/Buffer.h"

std::atomic<std::int16_t> g_nSoundPeak{0};
std::atomic<std::int16_t> g_nSoundThreshold{32767};
std::atomic<std::int16_t> g_bSoundTriggered{0};
std::atomic<std::int32_t> g_bTriggerRunning{0};
std::atomic<std::int32_t> g_bTriggerStop{0};

namespace {

using namespace std::chrono_literals;

// A pass of the wait runs when something happens: a new buffer analysed
// (one every 46 ms), the user's input, a paint. Without a sound device
// nothing arrives from the capture thread, and the indicator steps at this
// pace.
constexpr auto kPass = 50ms;
// How long the buffers given back by a stop may take to be released.
constexpr auto kBuffersBack = 1000ms;

// Handles what is waiting for the window, or sleeps until something is (the
// pass timer at the latest).
void WaitForNextEvent() {
    if (QCoreApplication::closingDown()) {
        return;
    }
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

// The window's wait runs a pass for the buffer just analysed.
void WakeTheWait() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
    }
}

}  // namespace

void SoundLevelCallback(CBuffer* buffer, void*) {
    if (g_bSoundTriggered == 1) {
        return;
    }
    struct Wake {
        ~Wake() { WakeTheWait(); }
    } wake;
    std::int16_t peak = 0;
    g_nSoundPeak = 0;
    for (std::int32_t k = 0; k + 1 < buffer->m_nBytes; k += 2) {
        unsigned char* at = buffer->m_pBytes + k;
        std::int16_t s;
        std::memcpy(&s, at, sizeof s);
        if (s < 0) {
            // Negative half-waves count as silence.
            s = 0;
            std::memcpy(at, &s, sizeof s);
        }
        if (s > peak) {
            peak = s;
            g_nSoundPeak = peak;
            if (peak >= g_nSoundThreshold) {
                debug_output("Triggered\n");
                // The picture is taken here, on the capture thread, with the
                // link lock; nothing in it waits for the window.
                TakePicture();
                g_bSoundTriggered = 1;
                return;
            }
        }
    }
}

void CTulkDlg::OnSoundTrigger() {
    if (!g_bConnected) {
        return;
    }
    if (g_bTriggerRunning == 1) {
        // The second press, from within the wait below.
        g_bTriggerStop = 1;
        return;
    }
    g_bTriggerRunning = 1;
    g_bTriggerStop = 0;
    g_nSoundThreshold = static_cast<std::int16_t>(m_sliderThreshold->value());
    g_bSoundTriggered = 0;
    m_SoundIn.m_pfnBufferReady = &SoundLevelCallback;
    m_SoundIn.m_pOwner = this;
    // Without a device the wait runs all the same, and the trace says why.
    m_SoundIn.Start();

    const int lower = m_progActivity->minimum();
    const int upper = m_progActivity->maximum();
    int pass = 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    debug_output("Wait for trigger\n");
    // Each pass sleeps until something happens rather than keeping a
    // processor busy.
    QTimer pace;
    pace.setSingleShot(true);
    while (g_bSoundTriggered == 0) {
        m_progLevel->setValue(g_nSoundPeak);
        m_progActivity->setValue(pass);
        if (++pass > upper) {
            pass = lower;
        }
        g_nSoundThreshold = static_cast<std::int16_t>(m_sliderThreshold->value());
        if (g_bTriggerStop == 1 || m_bDestroyed) {
            break;
        }
        pace.start(kPass);
        WaitForNextEvent();
    }
    std::this_thread::sleep_for(100ms);
    m_SoundIn.Stop();
    const auto giveUp = std::chrono::steady_clock::now() + kBuffersBack;
    while (m_SoundIn.m_nQueuedBuffers > 0) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            char line[80];
            std::snprintf(line, sizeof line, "Still %d buffers in waveIn queue!\n",
                          static_cast<int>(m_SoundIn.m_nQueuedBuffers));
            debug_output(line);
            std::snprintf(g_szErrorText, sizeof g_szErrorText,
                          "Sound trigger: %d capture buffers not back after %lld ms",
                          static_cast<int>(m_SoundIn.m_nQueuedBuffers),
                          static_cast<long long>(kBuffersBack.count()));
            WriteLog("TulkDlg", __LINE__, g_szErrorText);
            break;
        }
        pace.start(kPass);
        WaitForNextEvent();
    }
    pace.stop();
    debug_output("Stopping\n");
    m_SoundIn.Stop();
    m_progLevel->setValue(0);
    QApplication::restoreOverrideCursor();
    g_bTriggerRunning = 0;
    g_bTriggerStop = 0;
    RefreshCounters();
}
