#include "link/platform/usb_device.h"

#include <libusb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "link/platform/give_up.h"
#include "log/platform/last_error.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reads wake up this often to see whether they were cancelled.
constexpr int kSliceMs = 20;
constexpr unsigned kWriteTimeoutMs = 60000;
constexpr std::uint8_t kStillImageClass = 6;

libusb_context* usbContext() {
    static std::once_flag once;
    static libusb_context* context = nullptr;
    std::call_once(once, [] {
        if (libusb_init(&context) != 0) {
            context = nullptr;
        }
    });
    return context;
}

int errnoOfLibusb(int rc) {
    switch (rc) {
        case LIBUSB_ERROR_TIMEOUT:
            return ETIMEDOUT;
        case LIBUSB_ERROR_NO_DEVICE:
            return ENODEV;
        case LIBUSB_ERROR_ACCESS:
            return EACCES;
        case LIBUSB_ERROR_BUSY:
            return EBUSY;
        case LIBUSB_ERROR_OVERFLOW:
            return EMSGSIZE;
        case LIBUSB_ERROR_PIPE:
            return EPIPE;
        case LIBUSB_ERROR_NO_MEM:
            return ENOMEM;
        default:
            return EIO;
    }
}

// Milliseconds left before the deadline, at most one slice.
int sliceLeft(bool bounded, Clock::time_point deadline) {
    if (!bounded) {
        return kSliceMs;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left < kSliceMs ? left : kSliceMs);
}

}  // namespace

struct UsbDevice {
    int socket = -1;
    libusb_device_handle* handle = nullptr;
    int interface = -1;
    std::uint8_t in = 0;
    std::uint8_t out = 0;
    std::uint16_t inPacket = 512;
};

std::string usbdev_socketpath(int n) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string base = runtime && *runtime ? runtime : "/tmp";
    return base + "/tulk/usbscan" + std::to_string(n);
}

namespace {

UsbDevice* openSocket(int n) {
    const std::string path = usbdev_socketpath(n);
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        sys_setlasterror(ENAMETOOLONG);
        return nullptr;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        sys_setlasterror(errno);
        return nullptr;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        sys_setlasterror(errno);
        ::close(fd);
        return nullptr;
    }
    auto* device = new UsbDevice;
    device->socket = fd;
    return device;
}

// The bulk endpoints of a still-image interface, if this is one.
bool stillImageEndpoints(const libusb_interface_descriptor& alt, UsbDevice* device) {
    if (alt.bInterfaceClass != kStillImageClass) {
        return false;
    }
    device->in = device->out = 0;
    for (int e = 0; e < alt.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& ep = alt.endpoint[e];
        if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
            continue;
        }
        if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
            device->in = ep.bEndpointAddress;
            device->inPacket = ep.wMaxPacketSize ? ep.wMaxPacketSize : 512;
        } else {
            device->out = ep.bEndpointAddress;
        }
    }
    device->interface = alt.bInterfaceNumber;
    return device->in != 0 && device->out != 0;
}

UsbDevice* openLibusb(int n) {
    libusb_context* context = usbContext();
    if (!context) {
        sys_setlasterror(ENODEV);
        return nullptr;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    int seen = 0;
    UsbDevice* found = nullptr;
    int error = ENODEV;
    for (ssize_t i = 0; i < count && !found; ++i) {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(list[i], &config) != 0) {
            continue;
        }
        UsbDevice candidate;
        bool match = false;
        for (int f = 0; f < config->bNumInterfaces && !match; ++f) {
            const libusb_interface& itf = config->interface[f];
            if (itf.num_altsetting > 0 && stillImageEndpoints(itf.altsetting[0], &candidate)) {
                match = seen++ == n;
            }
        }
        libusb_free_config_descriptor(config);
        if (!match) {
            continue;
        }
        int rc = libusb_open(list[i], &candidate.handle);
        if (rc == 0) {
            libusb_set_auto_detach_kernel_driver(candidate.handle, 1);
            rc = libusb_claim_interface(candidate.handle, candidate.interface);
            if (rc != 0) {
                libusb_close(candidate.handle);
            }
        }
        if (rc != 0) {
            error = errnoOfLibusb(rc);
            break;
        }
        found = new UsbDevice(candidate);
    }
    if (list) {
        libusb_free_device_list(list, 1);
    }
    if (!found) {
        sys_setlasterror(error);
    }
    return found;
}

bool socketRead(UsbDevice* device, unsigned char* buffer, std::uint32_t count, std::uint32_t* got,
                int timeout_ms, const std::atomic<bool>* cancel) {
    const bool bounded = timeout_ms >= 0;
    const Clock::time_point began = Clock::now();
    const Clock::time_point deadline = began + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (cancel && cancel->load()) {
            sys_setlasterror(ECANCELED);
            return false;
        }
        if (link_wait_cut(began)) {
            sys_setlasterror(ETIMEDOUT);
            return false;
        }
        const int wait = sliceLeft(bounded, deadline);
        pollfd p{device->socket, POLLIN, 0};
        const int rc = ::poll(&p, 1, wait);
        if (rc < 0 && errno != EINTR) {
            sys_setlasterror(errno);
            return false;
        }
        if (rc > 0) {
            const ssize_t n = ::recv(device->socket, buffer, count, MSG_TRUNC | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            if (n < 0) {
                sys_setlasterror(errno);
                return false;
            }
            if (n == 0) {
                // The camera has gone.
                sys_setlasterror(ENODEV);
                return false;
            }
            if (static_cast<std::uint32_t>(n) > count) {
                sys_setlasterror(EMSGSIZE);
                return false;
            }
            *got = static_cast<std::uint32_t>(n);
            return true;
        }
        if (bounded && Clock::now() >= deadline) {
            sys_setlasterror(ETIMEDOUT);
            return false;
        }
    }
}

// One bulk transfer under the whole time-out: slicing it would split a
// transfer that is under way. A cancelled read ends with its time-out; once
// quitting has given the camera up, no transfer starts.
bool libusbRead(UsbDevice* device, unsigned char* buffer, std::uint32_t count, std::uint32_t* got,
                int timeout_ms) {
    if (link_gave_up()) {
        sys_setlasterror(ETIMEDOUT);
        return false;
    }
    int n = 0;
    // libusb takes 0 for no limit; a bounded 0 becomes the shortest wait.
    const unsigned wait = timeout_ms < 0 ? 0u : (timeout_ms == 0 ? 1u : unsigned(timeout_ms));
    const int rc =
        libusb_bulk_transfer(device->handle, device->in, buffer, static_cast<int>(count), &n, wait);
    // A transfer cut short by the time-out is taken only when it holds the
    // whole packet its header announces; otherwise the camera repeats it.
    const bool whole =
        rc == LIBUSB_ERROR_TIMEOUT && n >= 6 && n == 6 + (buffer[2] | (buffer[3] << 8));
    if (rc == 0 || whole) {
        *got = static_cast<std::uint32_t>(n);
        return true;
    }
    sys_setlasterror(errnoOfLibusb(rc));
    return false;
}

}  // namespace

UsbDevice* usbdev_open(int n) {
    if (UsbDevice* device = openSocket(n)) {
        return device;
    }
    return openLibusb(n);
}

void usbdev_close(UsbDevice* device) {
    if (!device) {
        return;
    }
    if (device->socket >= 0) {
        ::close(device->socket);
    }
    if (device->handle) {
        libusb_release_interface(device->handle, device->interface);
        libusb_close(device->handle);
    }
    delete device;
}

bool usbdev_write(UsbDevice* device, const unsigned char* data, std::uint32_t count) {
    if (device->socket >= 0) {
        pollfd p{device->socket, POLLOUT, 0};
        int ready = 0;
        do {
            ready = ::poll(&p, 1, static_cast<int>(kWriteTimeoutMs));
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            sys_setlasterror(ready == 0 ? ETIMEDOUT : errno);
            return false;
        }
        const ssize_t n = ::send(device->socket, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            sys_setlasterror(errno);
            return false;
        }
        if (static_cast<std::uint32_t>(n) != count) {
            sys_setlasterror(EIO);
            return false;
        }
        return true;
    }
    int n = 0;
    const int rc =
        libusb_bulk_transfer(device->handle, device->out, const_cast<unsigned char*>(data),
                             static_cast<int>(count), &n, kWriteTimeoutMs);
    if (rc != 0 || static_cast<std::uint32_t>(n) != count) {
        sys_setlasterror(rc != 0 ? errnoOfLibusb(rc) : EIO);
        return false;
    }
    return true;
}

bool usbdev_read(UsbDevice* device, unsigned char* buffer, std::uint32_t count, std::uint32_t* got,
                 int timeout_ms, const std::atomic<bool>* cancel) {
    *got = 0;
    if (device->socket >= 0) {
        return socketRead(device, buffer, count, got, timeout_ms, cancel);
    }
    return libusbRead(device, buffer, count, got, timeout_ms);
}

void usbdev_resetpipes(UsbDevice* device) {
    if (device->handle) {
        libusb_clear_halt(device->handle, device->in);
        libusb_clear_halt(device->handle, device->out);
    }
}
