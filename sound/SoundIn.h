// Sound capture on a thread of its own: the default input records into a
// ring of three buffers, and the owner's callback gets every filled one on
// the capture thread, which then queues it again.
//
// Stopping never waits for the capture thread (its callback may be taking a
// picture with the camera link held): once a stop has begun no buffer is
// queued again, the device hands every buffer back, and the capture thread
// releases each one and counts it down, whether the device is still open
// or not. The owner waits for m_nQueuedBuffers to reach 0 if it must.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "sound/Buffer.h"
#include "sound/MessageQueue.h"
#include "sound/SoundBase.h"

using BufferReadyFn = void (*)(CBuffer* buffer, void* owner);

class CSoundIn : public CSoundBase {
public:
    // Starts the capture thread at once.
    CSoundIn();
    // Stops capture first when it runs, then ends the capture thread.
    ~CSoundIn() override;
    CSoundIn(const CSoundIn&) = delete;
    CSoundIn& operator=(const CSoundIn&) = delete;

    // Stops the device and lets go of its buffers; nothing while idle.
    virtual void Stop();
    // Opens the default input with the format (the current one when null)
    // and starts capture. False while capture runs, without a callback or
    // owner, or when the device cannot be opened or started (the reason goes
    // to the trace).
    virtual bool Start(const WAVEFORMATEX* format = nullptr);
    // Queues one new buffer on the device. The count before the call, or 0
    // when no header could be had.
    int AddInputBufferToQueue();
    // A buffer back from the device; capture thread.
    void OnWIM_DATA(HWAVEIN device, WAVEHDR* header);

    // Buffers allocated and handed to the device and not yet released.
    std::atomic<std::int32_t> m_nQueuedBuffers{0};
    // Set by the owner before Start.
    std::atomic<BufferReadyFn> m_pfnBufferReady{nullptr};
    std::atomic<void*> m_pOwner{nullptr};
    std::atomic<bool> m_bRecording{false};
    HWAVEIN m_hWaveIn = nullptr;
    std::atomic<std::uint32_t> m_dwThreadID{0};

protected:
    // On the capture thread before its message loop.
    virtual bool InitInstance();

private:
    void Run();
    // Frees the header and its samples and counts them down.
    void Release(WAVEHDR* header);
    static void WaveInErrorMsg(MMRESULT code, const char* where);

    CMessageQueue m_queue;
    // Held while the capture thread puts a buffer back on the device and
    // while a stop begins, so that no buffer goes back once it has.
    std::mutex m_requeueMutex;
    bool m_bStopping = false;
    // Which Start a buffer was queued for; one from an earlier capture is
    // never queued again.
    std::uintptr_t m_nSession = 0;
    std::thread m_thread;
};
