// The wave format of the capture and the length of one capture buffer.
#pragma once

#include <cstdint>

#include "sound/platform/wave_in.h"

class CSoundBase {
public:
    // 16-bit PCM, mono, 22050 samples per second, 1024 frames a buffer.
    CSoundBase();
    virtual ~CSoundBase() = default;

    void SetBitsPerSample(int bits);
    int GetBitsPerSample() const { return m_Format.wBitsPerSample; }
    void SetSamplesPerSecond(int rate);
    int GetSamplesPerSecond() const { return static_cast<int>(m_Format.nSamplesPerSec); }
    void SetNumberOfChannels(int channels);
    int GetNumberOfChannels() const { return m_Format.nChannels; }
    // Frames in one capture buffer.
    void SetBufferSize(int frames) { m_nBufferSamples = frames; }
    int GetBufferSize() const { return m_nBufferSamples; }
    WAVEFORMATEX* GetFormat() { return &m_Format; }

protected:
    // Block align and bytes per second from the other fields.
    void UpdateFormat();

    WAVEFORMATEX m_Format{};
    std::int32_t m_nBufferSamples = 0;
};
