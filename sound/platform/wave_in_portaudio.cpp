// Wave input through PortAudio's default input device. On Linux that is ALSA's
// "default", which the desktop routes to its sound server (PulseAudio or
// PipeWire), so the server decides which microphone is heard. PortAudio calls
// back on a thread of its own with whatever block the server delivered; the
// samples go into the queued buffers in order and each full buffer is posted
// to the capture thread's queue.
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "log/platform/debug_output.h"
#include "sound/MessageQueue.h"
#include "sound/platform/wave_in.h"

struct WaveInDevice {
    PaStream* stream = nullptr;
    CMessageQueue* notify = nullptr;
    std::size_t frameBytes = 0;
    std::mutex mutex;
    std::deque<WAVEHDR*> queue;
};

namespace {

// What the sound system said about this thread's last failure.
thread_local std::string t_detail;

MMRESULT Fail(MMRESULT code, const std::string& detail) {
    t_detail = detail;
    return code;
}

MMRESULT FailPa(MMRESULT code, PaError err) {
    std::string detail = Pa_GetErrorText(err);
    if (err == paUnanticipatedHostError) {
        const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
        if (info && info->errorText) {
            detail += ": ";
            detail += info->errorText;
        }
    }
    return Fail(code, detail);
}

// ALSA and JACK complain on the terminal about every device they probe and
// every server that is not there while PortAudio looks for the default
// input; what matters reaches the trace through the result of the open.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

bool SampleFormat(const WAVEFORMATEX& f, PaSampleFormat* out) {
    if (f.wFormatTag != WAVE_FORMAT_PCM || f.nChannels == 0 || f.nSamplesPerSec == 0 ||
        f.nBlockAlign != f.nChannels * (f.wBitsPerSample / 8)) {
        return false;
    }
    switch (f.wBitsPerSample) {
        case 8:
            *out = paUInt8;
            return true;
        case 16:
            *out = paInt16;
            return true;
        case 24:
            *out = paInt24;
            return true;
        case 32:
            *out = paInt32;
            return true;
        default:
            return false;
    }
}

// Hands the front buffer back to its owner.
void ReturnFront(WaveInDevice* device) {
    WAVEHDR* header = device->queue.front();
    device->queue.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    device->notify->Post(ThreadMessage{MM_WIM_DATA, device, header});
}

int Record(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
           PaStreamCallbackFlags, void* user) {
    auto* device = static_cast<WaveInDevice*>(user);
    if (!input) {
        return paContinue;
    }
    const char* bytes = static_cast<const char*>(input);
    std::size_t left = frames * device->frameBytes;
    std::lock_guard lock(device->mutex);
    // With no buffer queued the samples are lost, as with any device that
    // overruns.
    while (left > 0 && !device->queue.empty()) {
        WAVEHDR* header = device->queue.front();
        const std::size_t room = header->dwBufferLength - header->dwBytesRecorded;
        const std::size_t take = left < room ? left : room;
        std::memcpy(header->lpData + header->dwBytesRecorded, bytes, take);
        header->dwBytesRecorded += static_cast<std::uint32_t>(take);
        bytes += take;
        left -= take;
        if (header->dwBytesRecorded == header->dwBufferLength) {
            ReturnFront(device);
        }
    }
    return paContinue;
}

}  // namespace

MMRESULT waveInOpen(HWAVEIN* out, const WAVEFORMATEX* format, CMessageQueue* notify) {
    if (!out || !format || !notify) {
        return Fail(MMSYSERR_INVALPARAM, {});
    }
    *out = nullptr;
    PaSampleFormat sampleFormat = 0;
    if (!SampleFormat(*format, &sampleFormat)) {
        return Fail(WAVERR_BADFORMAT, {});
    }
    snd_lib_error_set_handler(&QuietAlsa);
    jack_set_error_function(&QuietJack);
    jack_set_info_function(&QuietJack);
    PaError err = Pa_Initialize();
    if (err != paNoError) {
        return FailPa(MMSYSERR_NODRIVER, err);
    }
    const PaDeviceIndex input = Pa_GetDefaultInputDevice();
    if (input == paNoDevice) {
        Pa_Terminate();
        return Fail(MMSYSERR_BADDEVICEID, "no default input device (is the sound server running?)");
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(input);
    PaStreamParameters params{};
    params.device = input;
    params.channelCount = format->nChannels;
    params.sampleFormat = sampleFormat;
    params.suggestedLatency = info ? info->defaultLowInputLatency : 0.02;
    auto device = std::make_unique<WaveInDevice>();
    device->notify = notify;
    device->frameBytes = format->nBlockAlign;
    err = Pa_OpenStream(&device->stream, &params, nullptr, format->nSamplesPerSec,
                        paFramesPerBufferUnspecified, paNoFlag, &Record, device.get());
    if (err != paNoError) {
        Pa_Terminate();
        return FailPa(MMSYSERR_ERROR, err);
    }
    *out = device.release();
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, unsigned headerSize) {
    if (!device) {
        return Fail(MMSYSERR_INVALHANDLE, {});
    }
    if (!header || headerSize != sizeof(WAVEHDR) || !header->lpData ||
        header->dwBufferLength == 0) {
        return Fail(MMSYSERR_INVALPARAM, {});
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN, WAVEHDR* header, unsigned headerSize) {
    if (!header || headerSize != sizeof(WAVEHDR)) {
        return Fail(MMSYSERR_INVALPARAM, {});
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return Fail(WAVERR_STILLPLAYING, {});
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, unsigned headerSize) {
    if (!device) {
        return Fail(MMSYSERR_INVALHANDLE, {});
    }
    if (!header || headerSize != sizeof(WAVEHDR)) {
        return Fail(MMSYSERR_INVALPARAM, {});
    }
    if (!(header->dwFlags & WHDR_PREPARED)) {
        return Fail(WAVERR_UNPREPARED, {});
    }
    std::lock_guard lock(device->mutex);
    if (header->dwFlags & WHDR_INQUEUE) {
        return Fail(WAVERR_STILLPLAYING, {});
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    device->queue.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN device) {
    if (!device) {
        return Fail(MMSYSERR_INVALHANDLE, {});
    }
    if (Pa_IsStreamActive(device->stream) == 1) {
        return MMSYSERR_NOERROR;
    }
    const PaError err = Pa_StartStream(device->stream);
    return err == paNoError ? MMSYSERR_NOERROR : FailPa(MMSYSERR_ERROR, err);
}

MMRESULT waveInReset(HWAVEIN device) {
    if (!device) {
        return Fail(MMSYSERR_INVALHANDLE, {});
    }
    if (Pa_IsStreamStopped(device->stream) == 0) {
        const PaError err = Pa_AbortStream(device->stream);
        if (err != paNoError) {
            return FailPa(MMSYSERR_ERROR, err);
        }
    }
    // The callback has ended: what is queued goes back, partly filled or
    // empty.
    std::lock_guard lock(device->mutex);
    while (!device->queue.empty()) {
        ReturnFront(device);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN device) {
    if (!device) {
        return Fail(MMSYSERR_INVALHANDLE, {});
    }
    {
        std::lock_guard lock(device->mutex);
        if (!device->queue.empty()) {
            return Fail(WAVERR_STILLPLAYING, {});
        }
    }
    const PaError err = Pa_CloseStream(device->stream);
    Pa_Terminate();
    delete device;
    return err == paNoError ? MMSYSERR_NOERROR : FailPa(MMSYSERR_ERROR, err);
}

MMRESULT waveInGetErrorText(MMRESULT code, char* text, unsigned size) {
    if (!text || size == 0) {
        return MMSYSERR_INVALPARAM;
    }
    const char* base = "unknown error";
    switch (code) {
        case MMSYSERR_NOERROR:
            base = "no error";
            break;
        case MMSYSERR_ERROR:
            base = "the sound system failed";
            break;
        case MMSYSERR_BADDEVICEID:
            base = "no such input device";
            break;
        case MMSYSERR_INVALHANDLE:
            base = "the device is not open";
            break;
        case MMSYSERR_NODRIVER:
            base = "no sound system";
            break;
        case MMSYSERR_NOMEM:
            base = "out of memory";
            break;
        case MMSYSERR_INVALPARAM:
            base = "invalid parameter";
            break;
        case WAVERR_BADFORMAT:
            base = "unsupported wave format";
            break;
        case WAVERR_STILLPLAYING:
            base = "buffers are still queued";
            break;
        case WAVERR_UNPREPARED:
            base = "the buffer is not prepared";
            break;
        default:
            break;
    }
    std::string whole = base;
    if (!t_detail.empty()) {
        whole += ": " + t_detail;
        t_detail.clear();
    }
    std::snprintf(text, size, "%s", whole.c_str());
    return MMSYSERR_NOERROR;
}
