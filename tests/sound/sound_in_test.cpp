// The capture thread on a real sound server: the ring of three buffers, the
// callback on the capture thread with whole buffers, Start and Stop, a stop
// that never waits for a busy callback yet releases every buffer, and a
// missing sound server.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "log/platform/debug_output.h"
#include "sound/SoundIn.h"
#include "tests/sound/tone.h"

using namespace std::chrono_literals;

namespace {

// What the callback saw.
struct Seen {
    std::atomic<int> calls{0};
    std::atomic<int> wrongSize{0};
    std::atomic<int> peak{0};
    std::atomic<std::thread::id> thread{};
    // While set, the callback waits until it is cleared.
    std::mutex mutex;
    std::condition_variable wake;
    bool hold = false;
    std::atomic<bool> holding{false};
};

void Record(CBuffer* buffer, void* owner) {
    auto* seen = static_cast<Seen*>(owner);
    if (buffer->m_nBytes != 2048) {
        ++seen->wrongSize;
    }
    int peak = 0;
    for (int i = 0; i + 1 < buffer->m_nBytes; i += 2) {
        std::int16_t s;
        std::memcpy(&s, buffer->m_pBytes + i, 2);
        peak = std::max(peak, static_cast<int>(s));
    }
    int old = seen->peak.load();
    while (peak > old && !seen->peak.compare_exchange_weak(old, peak)) {
    }
    seen->thread = std::this_thread::get_id();
    ++seen->calls;
    std::unique_lock lock(seen->mutex);
    seen->holding = seen->hold;
    seen->wake.wait(lock, [seen] { return !seen->hold; });
    seen->holding = false;
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::mutex g_traceMutex;
std::string g_trace;
void Trace(const char* text) {
    std::lock_guard lock(g_traceMutex);
    g_trace += text;
}
std::string TraceText() {
    std::lock_guard lock(g_traceMutex);
    return g_trace;
}

class SoundInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr)
            << "the tests need the sound server that scripts/test.sh starts";
        {
            std::lock_guard lock(g_traceMutex);
            g_trace.clear();
        }
        set_debug_hook(&Trace);
        sound.m_pfnBufferReady = &Record;
        sound.m_pOwner = &seen;
    }
    void TearDown() override { set_debug_hook(nullptr); }

    Seen seen;
    CSoundIn sound;
};

}  // namespace

TEST(SoundBaseTest, DefaultFormatAndDerivedFields) {
    CSoundBase base;
    const WAVEFORMATEX* f = base.GetFormat();
    EXPECT_EQ(f->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f->cbSize, 0);
    EXPECT_EQ(base.GetBitsPerSample(), 16);
    EXPECT_EQ(base.GetSamplesPerSecond(), 22050);
    EXPECT_EQ(base.GetNumberOfChannels(), 1);
    EXPECT_EQ(f->nBlockAlign, 2);
    EXPECT_EQ(f->nAvgBytesPerSec, 44100u);
    EXPECT_EQ(base.GetBufferSize(), 1024);
}

TEST(SoundBaseTest, EverySetterRecomputesTheDerivedFields) {
    struct Case {
        int bits, rate, channels, blockAlign, perSecond;
    };
    for (const Case c : {Case{8, 8000, 1, 1, 8000}, Case{16, 44100, 2, 4, 176400},
                         Case{12, 22050, 2, 2, 44100}, Case{24, 48000, 1, 3, 144000}}) {
        CSoundBase base;
        base.SetBitsPerSample(c.bits);
        base.SetNumberOfChannels(c.channels);
        base.SetSamplesPerSecond(c.rate);
        EXPECT_EQ(base.GetFormat()->nBlockAlign, c.blockAlign) << c.bits << "/" << c.channels;
        EXPECT_EQ(base.GetFormat()->nAvgBytesPerSec, static_cast<unsigned>(c.perSecond));
    }
    CSoundBase base;
    base.SetBufferSize(512);
    EXPECT_EQ(base.GetBufferSize(), 512);
    EXPECT_EQ(base.GetFormat()->nBlockAlign, 2);
}

TEST(BufferTest, OwnsOnlyWhenAsked) {
    CBuffer owned(16, true);
    EXPECT_NE(owned.m_pBytes, nullptr);
    EXPECT_EQ(owned.m_nBytes, 16);
    unsigned char* kept = nullptr;
    {
        CBuffer loose(16, false);
        kept = loose.m_pBytes;
        ASSERT_NE(kept, nullptr);
    }
    kept[15] = 1;  // still the caller's after the object went
    delete[] kept;
    unsigned char bytes[4] = {};
    CBuffer wrap(bytes, 4);
    EXPECT_EQ(wrap.m_pBytes, bytes);
    EXPECT_FALSE(wrap.m_bOwner);
    CBuffer empty(nullptr, 100);
    EXPECT_EQ(empty.m_pBytes, nullptr);
    EXPECT_EQ(empty.m_nBytes, 0);
}

TEST_F(SoundInTest, CapturesWholeBuffersOnTheCaptureThread) {
    ASSERT_TRUE(sound.Start()) << TraceText();
    EXPECT_EQ(sound.m_nQueuedBuffers.load(), 3);
    EXPECT_FALSE(sound.Start());
    EXPECT_EQ(sound.m_nQueuedBuffers.load(), 3);
    ASSERT_TRUE(WaitFor([&] { return seen.calls >= 5; })) << TraceText();
    EXPECT_EQ(seen.wrongSize.load(), 0);
    EXPECT_NE(seen.thread.load(), std::this_thread::get_id());
    EXPECT_NE(sound.m_dwThreadID.load(), 0u);
    sound.Stop();
    EXPECT_FALSE(sound.m_bRecording.load());
    EXPECT_TRUE(WaitFor([&] { return sound.m_nQueuedBuffers == 0; }));
}

TEST_F(SoundInTest, StartNeedsCallbackAndOwner) {
    sound.m_pOwner = nullptr;
    EXPECT_FALSE(sound.Start());
    sound.m_pOwner = &seen;
    sound.m_pfnBufferReady = nullptr;
    EXPECT_FALSE(sound.Start());
    EXPECT_FALSE(sound.m_bRecording.load());
    EXPECT_EQ(sound.m_nQueuedBuffers.load(), 0);
    // Stop while idle does nothing.
    sound.Stop();
    EXPECT_EQ(TraceText(), "");
}

TEST_F(SoundInTest, HearsAToneThroughTheServer) {
    const std::string wav = (std::filesystem::temp_directory_path() / "sound_in_tone.wav").string();
    ASSERT_TRUE(WriteToneWav(wav, 20000, 0.6));
    ASSERT_TRUE(sound.Start()) << TraceText();
    ASSERT_EQ(PlayWav(wav), 0);
    EXPECT_TRUE(WaitFor([&] { return seen.peak > 15000; })) << seen.peak;
    sound.Stop();
    std::filesystem::remove(wav);
}

TEST_F(SoundInTest, RestartAfterStopQueuesThreeFreshBuffers) {
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(sound.Start()) << TraceText();
        EXPECT_EQ(sound.m_nQueuedBuffers.load(), 3);
        ASSERT_TRUE(WaitFor([&] { return seen.calls >= 2 * (round + 1); }));
        sound.Stop();
        ASSERT_TRUE(WaitFor([&] { return sound.m_nQueuedBuffers == 0; }));
        // Nothing reaches the callback once the count is 0.
        const int calls = seen.calls;
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(seen.calls.load(), calls);
    }
    EXPECT_EQ(TraceText().find("WAVEIN"), std::string::npos) << TraceText();
}

// The callback is busy (as when it takes a picture): Stop returns without
// waiting for it, and the buffers it and the device had are all released,
// none queued again and none passed to the callback.
TEST_F(SoundInTest, StopDoesNotWaitForABusyCallbackAndReleasesEveryBuffer) {
    {
        std::lock_guard lock(seen.mutex);
        seen.hold = true;
    }
    ASSERT_TRUE(sound.Start()) << TraceText();
    ASSERT_TRUE(WaitFor([&] { return seen.holding.load(); }));
    sound.Stop();
    EXPECT_FALSE(sound.m_bRecording.load());
    EXPECT_GT(sound.m_nQueuedBuffers.load(), 0);
    const int calls = seen.calls;
    {
        std::lock_guard lock(seen.mutex);
        seen.hold = false;
    }
    seen.wake.notify_all();
    EXPECT_TRUE(WaitFor([&] { return sound.m_nQueuedBuffers == 0; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(seen.calls.load(), calls);
    EXPECT_EQ(sound.m_nQueuedBuffers.load(), 0);
    // A new capture while the old buffers are still being let go takes none
    // of them.
    ASSERT_TRUE(sound.Start());
    EXPECT_EQ(sound.m_nQueuedBuffers.load(), 3);
    sound.Stop();
    EXPECT_TRUE(WaitFor([&] { return sound.m_nQueuedBuffers == 0; }));
}

TEST_F(SoundInTest, DestroyingWhileRecordingStopsFirst) {
    auto other = std::make_unique<CSoundIn>();
    other->m_pfnBufferReady = &Record;
    other->m_pOwner = &seen;
    ASSERT_TRUE(other->Start());
    ASSERT_TRUE(WaitFor([&] { return seen.calls >= 1; }));
    other.reset();
    const int calls = seen.calls;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(seen.calls.load(), calls);
}

TEST_F(SoundInTest, NoSoundServerIsTracedAndStartFails) {
    const std::string server = std::getenv("PULSE_SERVER");
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse/native", 1);
    const bool started = sound.Start();
    setenv("PULSE_SERVER", server.c_str(), 1);
    EXPECT_FALSE(started);
    EXPECT_FALSE(sound.m_bRecording.load());
    EXPECT_EQ(sound.m_nQueuedBuffers.load(), 0);
    const std::string trace = TraceText();
    EXPECT_NE(trace.find("WAVEIN:"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" in Start()"), std::string::npos) << trace;
    // The server back: capture works again with the same object.
    EXPECT_TRUE(sound.Start()) << TraceText();
    sound.Stop();
}
