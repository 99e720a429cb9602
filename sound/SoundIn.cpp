#include "sound/SoundIn.h"

#include <cstdio>
#include <functional>
#include <new>

#include "log/platform/debug_output.h"
#include "sound/platform/thread_name.h"

namespace {
std::atomic<std::uint32_t> g_nextThreadId{1};
}  // namespace

CSoundIn::CSoundIn() : m_thread([this] { Run(); }) {}

CSoundIn::~CSoundIn() {
    if (m_bRecording) {
        Stop();
    }
    m_queue.Post(ThreadMessage{WM_QUIT, nullptr, nullptr});
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool CSoundIn::InitInstance() {
    m_dwThreadID = g_nextThreadId++;
    return true;
}

void CSoundIn::Run() {
    SetThreadName("tulk-sound");
    if (!InitInstance()) {
        return;
    }
    for (;;) {
        const ThreadMessage msg = m_queue.Get();
        if (msg.message == WM_QUIT) {
            return;
        }
        if (msg.message == MM_WIM_DATA) {
            OnWIM_DATA(static_cast<HWAVEIN>(msg.wParam), static_cast<WAVEHDR*>(msg.lParam));
        }
    }
}

void CSoundIn::WaveInErrorMsg(MMRESULT code, const char* where) {
    char text[100];
    waveInGetErrorText(code, text, sizeof text);
    char line[256];
    // One line of the trace each.
    std::snprintf(line, sizeof line, "WAVEIN:%x:%s %s\n", code, text, where);
    debug_output(line);
}

bool CSoundIn::Start(const WAVEFORMATEX* format) {
    if (m_bRecording || !m_pfnBufferReady.load() || !m_pOwner.load()) {
        return false;
    }
    if (format) {
        m_Format = *format;
    }
    HWAVEIN device = nullptr;
    MMRESULT result = waveInOpen(&device, &m_Format, &m_queue);
    if (result != MMSYSERR_NOERROR) {
        WaveInErrorMsg(result, "in Start()");
        return false;
    }
    {
        std::lock_guard lock(m_requeueMutex);
        m_hWaveIn = device;
        ++m_nSession;
        m_bStopping = false;
    }
    for (int i = 0; i < 3; ++i) {
        AddInputBufferToQueue();
    }
    // Set before the device runs, so that the first buffer back is not
    // taken for one returned by a stop.
    m_bRecording = true;
    result = waveInStart(m_hWaveIn);
    if (result != MMSYSERR_NOERROR) {
        WaveInErrorMsg(result, "in Start()");
        // The device is closed here rather than left open with nobody to
        // close it; its buffers come back and are released.
        Stop();
        return false;
    }
    return true;
}

int CSoundIn::AddInputBufferToQueue() {
    auto* header = new (std::nothrow) WAVEHDR{};
    if (!header) {
        return 0;
    }
    CBuffer block(m_Format.nBlockAlign * m_nBufferSamples, false);
    header->lpData = reinterpret_cast<char*>(block.m_pBytes);
    header->dwBufferLength = static_cast<std::uint32_t>(block.m_nBytes);
    {
        std::lock_guard lock(m_requeueMutex);
        header->dwUser = m_nSession;
    }
    MMRESULT result = waveInPrepareHeader(m_hWaveIn, header, sizeof(WAVEHDR));
    if (result == MMSYSERR_NOERROR) {
        result = waveInAddBuffer(m_hWaveIn, header, sizeof(WAVEHDR));
    }
    if (result != MMSYSERR_NOERROR) {
        WaveInErrorMsg(result, "in AddInputBufferToQueue()");
        // Never counted, so never released by anyone else.
        delete[] reinterpret_cast<unsigned char*>(header->lpData);
        delete header;
        return m_nQueuedBuffers;
    }
    return m_nQueuedBuffers++;
}

void CSoundIn::OnWIM_DATA(HWAVEIN device, WAVEHDR* header) {
    // The device that handed it back may be closed by now; unpreparing needs
    // only the header.
    MMRESULT result = waveInUnprepareHeader(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        // Still the device's: it comes back again.
        WaveInErrorMsg(result, "in OnWIM_DATA()");
        return;
    }
    auto current = [this, header] {
        return m_bRecording && !m_bStopping && header->dwUser == m_nSession;
    };
    bool deliver = false;
    {
        std::lock_guard lock(m_requeueMutex);
        deliver = current();
    }
    if (deliver) {
        CBuffer samples(header->lpData, static_cast<std::int32_t>(header->dwBufferLength));
        if (BufferReadyFn ready = m_pfnBufferReady.load()) {
            ready(&samples, m_pOwner.load());
        }
        // The callback may have taken long (a picture): a stop may have
        // begun meanwhile, and then the buffer stays out.
        std::lock_guard lock(m_requeueMutex);
        if (current()) {
            result = waveInPrepareHeader(m_hWaveIn, header, sizeof(WAVEHDR));
            if (result == MMSYSERR_NOERROR) {
                result = waveInAddBuffer(m_hWaveIn, header, sizeof(WAVEHDR));
            }
            if (result == MMSYSERR_NOERROR) {
                return;
            }
            WaveInErrorMsg(result, "in OnWIM_DATA()");
            waveInUnprepareHeader(m_hWaveIn, header, sizeof(WAVEHDR));
        }
    }
    Release(header);
}

void CSoundIn::Release(WAVEHDR* header) {
    delete[] reinterpret_cast<unsigned char*>(header->lpData);
    delete header;
    --m_nQueuedBuffers;
}

void CSoundIn::Stop() {
    if (!m_bRecording) {
        return;
    }
    {
        std::lock_guard lock(m_requeueMutex);
        m_bStopping = true;
    }
    MMRESULT result = waveInReset(m_hWaveIn);
    if (result != MMSYSERR_NOERROR) {
        WaveInErrorMsg(result, "in Stop()");
        std::lock_guard lock(m_requeueMutex);
        m_bStopping = false;
        return;
    }
    m_bRecording = false;
    // The reset handed every buffer back, so the device can close now; the
    // capture thread releases them in its own time.
    result = waveInClose(m_hWaveIn);
    if (result != MMSYSERR_NOERROR) {
        WaveInErrorMsg(result, "in Stop()");
        return;
    }
    std::lock_guard lock(m_requeueMutex);
    m_hWaveIn = nullptr;
}
