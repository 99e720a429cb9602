#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "link/eph.h"
#include "link/eph_transport.h"
#include "log/platform/debug_output.h"

namespace {

void noError(int, const char*) {}

void noProgress(int) {}

void* standardRealloc(void* buffer, std::size_t size) {
    if (size == 0) {
        std::free(buffer);
        return nullptr;
    }
    return buffer ? std::realloc(buffer, size) : std::malloc(size);
}

std::FILE* g_storeStream = nullptr;

}  // namespace

eph_iob* eph_new(eph_error_fn error_cb, eph_realloc_fn realloc_cb, eph_progress_fn progress_cb,
                 eph_store_fn store_cb, int debug) {
    auto* iob = new (std::nothrow) eph_iob{};
    if (!iob) {
        return nullptr;
    }
    iob->error_cb = error_cb ? error_cb : noError;
    iob->realloc_cb = realloc_cb ? realloc_cb : standardRealloc;
    iob->progress_cb = progress_cb ? progress_cb : noProgress;
    iob->store_cb = store_cb;
    iob->debug = debug;
    iob->port = -1;
    // A serial port until a USB device is opened on the record.
    iob->transport = &eph_serial_transport;
    return iob;
}

void eph_free(eph_iob* iob) {
    delete iob;
}

void eph_system_error_cb(int code, const char* message) {
    char line[4200];
    std::snprintf(line, sizeof line, "Error %d: %s\n", code, message);
    debug_output(line);
    // Time-outs are part of normal waiting and would flood the terminal.
    if (code != EPH_ERR_TIMEOUT) {
        std::fputs(line, stderr);
    }
}

void eph_setstorestream(std::FILE* stream) {
    g_storeStream = stream;
}

int eph_system_store_cb(const unsigned char* data, int length) {
    if (!g_storeStream) {
        std::fputs("no stream to store received data\n", stderr);
        return -1;
    }
    const std::size_t want = length > 0 ? static_cast<std::size_t>(length) : 0;
    if (std::fwrite(data, 1, want, g_storeStream) != want) {
        std::fprintf(stderr, "%s\n", std::strerror(errno));
        return -1;
    }
    return 0;
}
