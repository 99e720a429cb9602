// Port numbers to serial devices. On this platform a port number means
// nothing by itself, so the user says which device stands for which number.
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "link/eph.h"

namespace {
std::mutex g_mapMutex;
std::map<int, std::string> g_portMap;
}  // namespace

void eph_setportmap(const std::map<int, std::string>& devices) {
    std::lock_guard lock(g_mapMutex);
    g_portMap = devices;
}

std::string eph_portdevice(int port) {
    const std::string variable = "TULK_COM" + std::to_string(port);
    if (const char* device = std::getenv(variable.c_str()); device && *device) {
        return device;
    }
    {
        std::lock_guard lock(g_mapMutex);
        auto it = g_portMap.find(port);
        if (it != g_portMap.end() && !it->second.empty()) {
            return it->second;
        }
    }
    return "/dev/ttyS" + std::to_string(port - 1);
}
