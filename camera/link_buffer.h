#pragma once

#include "link/eph.h"

// A buffer from the link's allocator, as eph_getvar requires (it may grow
// and replace it), released by the same allocator.
struct LinkBuffer {
    LinkBuffer(eph_iob* iob, long size)
        : iob(iob), data(static_cast<unsigned char*>(iob->realloc_cb(nullptr, size))) {}
    ~LinkBuffer() {
        if (data) {
            iob->realloc_cb(data, 0);
        }
    }
    LinkBuffer(const LinkBuffer&) = delete;
    LinkBuffer& operator=(const LinkBuffer&) = delete;

    eph_iob* iob;
    unsigned char* data;
};
