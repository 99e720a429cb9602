#include "sound/Buffer.h"

#include <new>

#include "log/platform/debug_output.h"

CBuffer::CBuffer(std::int32_t nBytes, bool owner) : m_bOwner(owner) {
    if (nBytes <= 0) {
        return;
    }
    m_pBytes = new (std::nothrow) unsigned char[static_cast<unsigned>(nBytes)];
    if (!m_pBytes) {
        debug_output("Out of memory!\n");
        return;
    }
    m_nBytes = nBytes;
}

CBuffer::CBuffer(void* bytes, std::int32_t nBytes)
    : m_pBytes(static_cast<unsigned char*>(bytes)), m_nBytes(bytes ? nBytes : 0) {}

CBuffer::~CBuffer() {
    if (m_bOwner && m_pBytes) {
        delete[] m_pBytes;
    }
}
