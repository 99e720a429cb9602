// tulk-camsim: one simulated camera on a pseudo-terminal and/or a USB packet
// socket, for trying the controller without a camera. Runs until SIGINT or
// SIGTERM.
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "sim/camsim.h"
#include "sim/folder_spec.h"

namespace {

struct Settings {
    bool help = false;
    bool serial = false;
    std::optional<int> usb;
    std::optional<camsim::Folder> folders;
    bool pace = false;
    long long idleResetMs = 0;
    std::optional<std::string> pictures;
    long long generate = 0;
    std::optional<std::string> model;
};

enum class Value { None, Optional, Required };

struct Option {
    const char* name;
    Value value;
    const char* valueName;
    const char* help;
    // Returns false on a value it cannot use, with why when there is more
    // to say than "bad value".
    std::function<bool(Settings&, const std::optional<std::string>& value, std::string& why)> apply;
};

bool parseCount(const std::string& text, long long max, long long& out) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoll(text);
    return out <= max;
}

const std::vector<Option>& options() {
    static const std::vector<Option> table = {
        {"--serial", Value::None, nullptr,
         "serve a pseudo-terminal (the default when no cable is chosen)",
         [](Settings& s, const auto&, std::string&) {
             s.serial = true;
             return true;
         }},
        {"--usb", Value::Optional, "N",
         "serve USB device N (default 0) on $XDG_RUNTIME_DIR/tulk/usbscanN",
         [](Settings& s, const auto& v, std::string&) {
             long long n = 0;
             if (v && !parseCount(*v, 99, n))
                 return false;
             s.usb = static_cast<int>(n);
             return true;
         }},
        {"--folders", Value::Required, "SPEC",
         "a camera with folders, e.g. ':4,DCIM(100CAM:5,101CAM:2),MISC' (see below)",
         [](Settings& s, const auto& v, std::string& why) {
             camsim::Folder root;
             if (!camsim::parseFolderSpec(*v, root, why))
                 return false;
             s.folders = std::move(root);
             return true;
         }},
        {"--pace", Value::None, nullptr, "send on the serial line at its real rate",
         [](Settings& s, const auto&, std::string&) {
             s.pace = true;
             return true;
         }},
        {"--idle-reset", Value::Required, "MS",
         "back to 19200 baud after MS milliseconds without a byte (default: never)",
         [](Settings& s, const auto& v, std::string&) {
             return parseCount(*v, 86400000, s.idleResetMs);
         }},
        {"--pictures", Value::Required, "DIR",
         "hold the JPEG files of DIR (*.jpg, *.jpeg) as pictures, named as the files are",
         [](Settings& s, const auto& v, std::string& why) {
             if (v->empty()) {
                 why = "no folder named";
                 return false;
             }
             s.pictures = *v;
             return true;
         }},
        {"--generate", Value::Required, "N",
         "hold N pictures more, drawn by the camera (640x480, after those of --pictures)",
         [](Settings& s, const auto& v, std::string&) { return parseCount(*v, 9999, s.generate); }},
        {"--model", Value::Required, "TEXT",
         "the camera's model text (default SR981; SX381 and others choose other tables)",
         [](Settings& s, const auto& v, std::string&) {
             s.model = *v;
             return true;
         }},
        {"--help", Value::None, nullptr, "show this text and exit",
         [](Settings& s, const auto&, std::string&) {
             s.help = true;
             return true;
         }},
    };
    return table;
}

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: tulk-camsim [options]\n\n"
                 "Plays a camera on a new pseudo-terminal and/or a USB socket, and prints\n"
                 "one line per cable: \"tulk-camsim: serving serial on PATH\",\n"
                 "\"tulk-camsim: serving usb on PATH\". The camera holds pictures: none\n"
                 "until --pictures or --generate gives it some, or the controller takes\n"
                 "or uploads them.\n\n");
    for (const auto& o : options()) {
        std::string left = o.name;
        if (o.value == Value::Required)
            left += std::string("=") + o.valueName;
        else if (o.value == Value::Optional)
            left += std::string("[=") + o.valueName + "]";
        std::fprintf(to, "  %-18s %s\n", left.c_str(), o.help);
    }
    std::fprintf(to,
                 "\nFolder SPEC: items separated by ',', each NAME[:PICTURES][(ITEMS)].\n"
                 "A name may hold spaces (quote it) but not ':', ',', '(' or ')'; PICTURES\n"
                 "defaults to 0. A first item without a name, \":N\", gives the root's\n"
                 "own pictures. An empty SPEC is a camera with only a root folder.\n");
}

// Returns false (after saying why) on a command line it cannot use.
bool parse(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        std::optional<std::string> value;
        if (eq != std::string::npos)
            value = arg.substr(eq + 1);
        const Option* found = nullptr;
        for (const auto& o : options())
            if (name == o.name)
                found = &o;
        if (!found) {
            std::fprintf(stderr, "tulk-camsim: unknown option '%s'\n", arg.c_str());
            return false;
        }
        if (found->value == Value::None && value) {
            std::fprintf(stderr, "tulk-camsim: %s takes no value\n", found->name);
            return false;
        }
        if (found->value == Value::Required && !value) {
            std::fprintf(stderr, "tulk-camsim: %s needs =%s\n", found->name, found->valueName);
            return false;
        }
        std::string why;
        if (!found->apply(s, value, why)) {
            std::fprintf(stderr, "tulk-camsim: bad value '%s' for %s%s%s\n",
                         value.value_or("").c_str(), found->name, why.empty() ? "" : ": ",
                         why.c_str());
            return false;
        }
    }
    if (!s.usb)
        s.serial = true;
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

    // Blocked before the camera's threads exist so that they inherit the
    // mask and the signals reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    camsim::Camera camera;
    camera.enablePictures();
    if (settings.model)
        camera.setModel(*settings.model);
    if (settings.pictures) {
        const int loaded = camera.loadPictures(*settings.pictures);
        if (loaded < 0) {
            std::fprintf(stderr, "tulk-camsim: cannot load pictures from %s: %s\n",
                         settings.pictures->c_str(), std::strerror(errno));
            return 1;
        }
        if (loaded == 0) {
            std::fprintf(stderr, "tulk-camsim: no JPEG files in %s\n", settings.pictures->c_str());
            return 1;
        }
    }
    if (settings.generate > 0)
        camera.generatePictures(static_cast<int>(settings.generate), 640, 480);
    if (settings.folders)
        camera.setFolders(*settings.folders);
    camera.setPacing(settings.pace);
    camera.setIdleReset(std::chrono::milliseconds(settings.idleResetMs));

    if (settings.serial) {
        const std::string path = camera.startSerial();
        if (path.empty()) {
            std::fprintf(stderr, "tulk-camsim: cannot open a pseudo-terminal: %s\n",
                         std::strerror(errno));
            return 1;
        }
        std::cout << "tulk-camsim: serving serial on " << path << std::endl;
    }
    if (settings.usb) {
        const std::string path = camera.startUsb(*settings.usb);
        if (path.empty()) {
            std::fprintf(stderr, "tulk-camsim: cannot serve USB device %d: %s\n", *settings.usb,
                         std::strerror(errno));
            return 1;
        }
        std::cout << "tulk-camsim: serving usb on " << path << std::endl;
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    camera.stop();
    return 0;
}
