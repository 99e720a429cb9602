// A block of bytes that may or may not own its storage.
#pragma once

#include <cstdint>

class CBuffer {
public:
    // Allocates the bytes; the storage is freed with the object only when
    // owner is true. When it cannot be had, the trace says "Out of memory!"
    // and the buffer stays empty.
    CBuffer(std::int32_t nBytes, bool owner);
    // Wraps storage that stays the caller's; null gives an empty buffer.
    CBuffer(void* bytes, std::int32_t nBytes);
    virtual ~CBuffer();
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;

    unsigned char* m_pBytes = nullptr;
    std::int32_t m_nBytes = 0;
    bool m_bOwner = false;
};
