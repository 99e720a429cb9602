// Sounds for the tests: a sine tone written as a WAV file and played into the
// sound server's default sink with paplay, which the capture hears through
// the server's default source.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// 16-bit mono at 22050 samples per second; a peak of amplitude.
inline bool WriteToneWav(const std::string& path, int amplitude, double seconds,
                         double frequency = 440.0) {
    const int rate = 22050;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    std::vector<std::int16_t> samples(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * 3.14159265358979 * frequency * i / rate)));
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    auto u32 = [f](std::uint32_t v) {
        const unsigned char b[4] = {
            static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        std::fwrite(b, 1, 4, f);
    };
    auto u16 = [f](std::uint16_t v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v),
                                    static_cast<unsigned char>(v >> 8)};
        std::fwrite(b, 1, 2, f);
    };
    const std::uint32_t dataBytes = frames * 2;
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    for (std::int16_t s : samples) {
        u16(static_cast<std::uint16_t>(s));
    }
    return std::fclose(f) == 0;
}

// Plays the file to its end; paplay's exit status.
inline int PlayWav(const std::string& path) {
    const std::string command = "paplay --latency-msec=50 '" + path + "'";
    return std::system(command.c_str());
}
