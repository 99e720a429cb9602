// Wave input: the system's default audio input, filling the buffers queued
// on it in order and handing each back, filled, as an MM_WIM_DATA message on
// the queue it was opened with. A reset stops the device and hands back
// every buffer still queued, each with a message of its own.
//
// A header is the device's only while it is queued. Preparing and
// unpreparing look at the header alone, so a buffer that a reset handed back
// can still be unprepared and released after the device has been closed.
#pragma once

#include <cstdint>

class CMessageQueue;

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

struct WAVEFORMATEX {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};

struct WAVEHDR {
    char* lpData;
    std::uint32_t dwBufferLength;
    std::uint32_t dwBytesRecorded;
    std::uintptr_t dwUser;
    std::uint32_t dwFlags;
    std::uint32_t dwLoops;
    WAVEHDR* lpNext;
    std::uintptr_t reserved;
};

inline constexpr std::uint32_t WHDR_DONE = 0x01;
inline constexpr std::uint32_t WHDR_PREPARED = 0x02;
inline constexpr std::uint32_t WHDR_INQUEUE = 0x10;

using MMRESULT = unsigned;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

struct WaveInDevice;
using HWAVEIN = WaveInDevice*;

// Opens the default input for the format; returned buffers are posted to
// notify. The device is stopped until waveInStart.
MMRESULT waveInOpen(HWAVEIN* device, const WAVEFORMATEX* format, CMessageQueue* notify);
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, unsigned headerSize);
// Fails with WAVERR_STILLPLAYING while the header is queued.
MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, unsigned headerSize);
MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, unsigned headerSize);
MMRESULT waveInStart(HWAVEIN device);
MMRESULT waveInReset(HWAVEIN device);
// Fails with WAVERR_STILLPLAYING while buffers are queued; the device is
// gone once it succeeds.
MMRESULT waveInClose(HWAVEIN device);
// The text for the code; after a failure of this thread's last call, with
// what the sound system said.
MMRESULT waveInGetErrorText(MMRESULT code, char* text, unsigned size);
