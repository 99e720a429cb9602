// tulk-camsim: one simulated camera on a pseudo-terminal, for trying the
// controller without a camera. Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "camsim.h"

namespace {

struct Settings {
    bool help = false;
};

struct Option {
    const char* name;
    const char* valueName;  // null for a flag
    const char* help;
    std::function<bool(Settings&, const std::string& value)> apply;
};

const std::vector<Option>& options() {
    static const std::vector<Option> table = {
        {"--help", nullptr, "show this text and exit",
         [](Settings& s, const std::string&) {
             s.help = true;
             return true;
         }},
    };
    return table;
}

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: tulk-camsim [options]\n\n"
                 "Plays a camera on a new pseudo-terminal and prints its path.\n\n");
    for (const auto& o : options()) {
        std::string left = o.name;
        if (o.valueName)
            left += std::string(" ") + o.valueName;
        std::fprintf(to, "  %-22s %s\n", left.c_str(), o.help);
    }
}

// Returns false (after saying why) on a command line it cannot use.
bool parse(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const Option* found = nullptr;
        for (const auto& o : options())
            if (arg == o.name)
                found = &o;
        if (!found) {
            std::fprintf(stderr, "tulk-camsim: unknown option '%s'\n", arg.c_str());
            return false;
        }
        std::string value;
        if (found->valueName) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tulk-camsim: %s needs %s\n", found->name, found->valueName);
                return false;
            }
            value = argv[++i];
        }
        if (!found->apply(s, value)) {
            std::fprintf(stderr, "tulk-camsim: bad value '%s' for %s\n", value.c_str(),
                         found->name);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        usage(stderr);
        return 2;
    }
    if (settings.help) {
        usage(stdout);
        return 0;
    }

    // Blocked before the camera's thread exists so that it inherits the mask
    // and the signals reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    camsim::Camera camera;
    const std::string path = camera.startSerial();
    if (path.empty()) {
        std::fprintf(stderr, "tulk-camsim: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    std::cout << "tulk-camsim: serving serial on " << path << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    camera.stop();
    return 0;
}
