#include "sound/SoundBase.h"

CSoundBase::CSoundBase() {
    m_Format.wFormatTag = WAVE_FORMAT_PCM;
    m_Format.cbSize = 0;
    m_nBufferSamples = 1024;
    SetBitsPerSample(16);
    SetSamplesPerSecond(22050);
    SetNumberOfChannels(1);
}

void CSoundBase::SetBitsPerSample(int bits) {
    m_Format.wBitsPerSample = static_cast<std::uint16_t>(bits);
    UpdateFormat();
}

void CSoundBase::SetSamplesPerSecond(int rate) {
    m_Format.nSamplesPerSec = static_cast<std::uint32_t>(rate);
    UpdateFormat();
}

void CSoundBase::SetNumberOfChannels(int channels) {
    m_Format.nChannels = static_cast<std::uint16_t>(channels);
    UpdateFormat();
}

void CSoundBase::UpdateFormat() {
    m_Format.nBlockAlign =
        static_cast<std::uint16_t>(m_Format.nChannels * (m_Format.wBitsPerSample / 8));
    m_Format.nAvgBytesPerSec = m_Format.nSamplesPerSec * m_Format.nBlockAlign;
}
