// tulk-camsim: one simulated camera on a pseudo-terminal and/or a USB packet
// socket, for trying the controller without a camera. Runs until SIGINT or
// SIGTERM.
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "sim/camsim.h"
#include "sim/fault_spec.h"
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
    std::vector<camsim::Fault> faults;
    std::optional<std::string> link;
    std::optional<std::string> record;
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
        {"--fault", Value::Required, "SPEC",
         "play a fault on its occasions (see below); may be given again for more faults",
         [](Settings& s, const auto& v, std::string& why) {
             camsim::Fault f;
             if (!camsim::parseFaultSpec(*v, f, why))
                 return false;
             s.faults.push_back(f);
             return true;
         }},
        {"--link", Value::Required, "PATH",
         "make PATH a symbolic link to the serial terminal (replacing a link\n"
         "                     there) and print it as the path served; removed at exit",
         [](Settings& s, const auto& v, std::string& why) {
             if (v->empty()) {
                 why = "no path named";
                 return false;
             }
             s.link = *v;
             return true;
         }},
        {"--record", Value::Required, "DIR",
         "write down in DIR (made when missing) every picture the camera adds and\n"
         "                     events.log (see below)",
         [](Settings& s, const auto& v, std::string& why) {
             if (v->empty()) {
                 why = "no folder named";
                 return false;
             }
             s.record = *v;
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
    std::fprintf(
        to,
        "\nFault SPEC: KIND[,at=N][,every=M][,for=DURATION][,action=snapshot|erase].\n"
        "Each fault counts its own occasions from 1 and fires on occasion N (default 1),\n"
        "then, with every=M, on N+M, N+2M, ...; without every= only once. DURATION is a\n"
        "number with ms or s (500ms, 30s). A key that means nothing to KIND is refused.\n"
        "  stall-mid-transfer[,for=D]  occasion: a picture transfer (a read of register\n"
        "      14). Once about half of its data packets are sent, the camera sends and\n"
        "      reads nothing for D (default 30s; what the host sends waits in the line),\n"
        "      then goes on where it was. Serial and USB.\n"
        "  garble-packet   occasion: a data packet of a picture transfer, counted over all\n"
        "      of them (a resend is none). It goes out with one payload byte changed\n"
        "      under the true length and checksum; the resend the host's NAK asks for\n"
        "      is true.\n"
        "  garble-always   the same, but every copy of that packet is garbled, each at\n"
        "      another byte, until the camera gives the transfer up.\n"
        "  no-checksum     (USB only; no occasion) every packet sent on USB carries 0 in\n"
        "      its two checksum bytes.\n"
        "  lose-answer[,action=snapshot|erase]  occasion: that action's command arriving\n"
        "      (snapshot: action 2, the default; erase: action 0, erase the last picture).\n"
        "      The camera carries it out but sends neither its ACK nor its completion.\n"
        "  ignore-command[,action=snapshot|erase]  occasion as above. The command is not\n"
        "      heard: no action, no answer; the host's repeat of it is heard.\n"
        "  restart         occasion: a snapshot command arriving. In its place the\n"
        "      camera's interface starts again as after a power cycle: no picture, the\n"
        "      serial line back at 19200 baud awaiting a wake-up, the USB connection\n"
        "      closed by the camera (a new one is served), anything half received\n"
        "      dropped. Pictures, registers and clock stay.\n"
        "  vanish          occasion: a snapshot command arriving. The program ends at\n"
        "      once with status 3, answering nothing and removing nothing (its USB\n"
        "      socket file and --link stay), as a pulled cable.\n"
        "When two faults fall on one occasion, the first of vanish, restart,\n"
        "ignore-command, lose-answer (and of garble-always, garble-packet) acts and the\n"
        "others do not count it.\n"
        "\nRecord (--record=DIR): each picture the camera adds (--pictures, --generate,\n"
        "snapshots, stored uploads) as DIR/NNNNNN-NAME, its bytes as register 14 sends\n"
        "them (NNNNNN a running number from 000001, continued from the highest in DIR;\n"
        "NAME with '/' and control characters as '_'), each file written whole; and\n"
        "DIR/events.log, one line per event, written before the host is answered:\n"
        "\"snapshot NNNNNN NAME\", \"erase NNNNNN NAME\", \"erase-all COUNT\",\n"
        "\"fault KIND OCCASION\" (no-checksum has no occasion and no line).\n"
        "\nAn option's value may follow it as the next argument (--fault restart).\n"
        "Exit status: 0 after SIGINT or SIGTERM, 1 when the camera cannot start, 2 on a\n"
        "bad command line, 3 when the vanish fault ends it.\n");
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
        // "--model --serial" is a forgotten value, not a model.
        if (found->value == Value::Required && !value && i + 1 < argc &&
            std::string(argv[i + 1]).rfind("--", 0) != 0)
            value = argv[++i];
        if (found->value == Value::Required && !value) {
            std::fprintf(stderr, "tulk-camsim: %s needs %s\n", found->name, found->valueName);
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
    if (s.link && !s.serial) {
        std::fprintf(stderr, "tulk-camsim: --link needs the serial cable (--serial)\n");
        return false;
    }
    return true;
}

namespace fs = std::filesystem;

// Points path at target, replacing a link already there in one step (a
// host that opens path meanwhile finds the old camera or the new, never
// nothing). False with why.
bool makeLink(const std::string& target, const std::string& path, std::string& why) {
    std::error_code ec;
    const auto st = fs::symlink_status(path, ec);
    if (!ec && fs::exists(st) && !fs::is_symlink(st)) {
        why = "it exists and is no symbolic link";
        return false;
    }
    const std::string temporary = path + ".new-" + std::to_string(std::random_device{}());
    fs::create_symlink(target, temporary, ec);
    if (!ec)
        fs::rename(temporary, path, ec);
    if (ec) {
        why = ec.message();
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

// Removes the link unless a camera started since has taken it over.
void removeLink(const std::string& target, const std::string& path) {
    std::error_code ec;
    if (fs::read_symlink(path, ec) == fs::path(target) && !ec)
        fs::remove(path, ec);
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
    // First, so that the pictures the camera starts with are in the record.
    if (settings.record && !camera.setRecord(*settings.record)) {
        std::fprintf(stderr, "tulk-camsim: cannot keep a record in %s: %s\n",
                     settings.record->c_str(), std::strerror(errno));
        return 1;
    }
    for (const auto& f : settings.faults)
        camera.addFault(f);
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

    std::string terminal;
    if (settings.serial) {
        terminal = camera.startSerial();
        if (terminal.empty()) {
            std::fprintf(stderr, "tulk-camsim: cannot open a pseudo-terminal: %s\n",
                         std::strerror(errno));
            return 1;
        }
        std::string why;
        if (settings.link && !makeLink(terminal, *settings.link, why)) {
            std::fprintf(stderr, "tulk-camsim: cannot make the link %s: %s\n",
                         settings.link->c_str(), why.c_str());
            return 1;
        }
        std::cout << "tulk-camsim: serving serial on " << settings.link.value_or(terminal)
                  << std::endl;
    }
    if (settings.usb) {
        const std::string path = camera.startUsb(*settings.usb);
        if (path.empty()) {
            std::fprintf(stderr, "tulk-camsim: cannot serve USB device %d: %s\n", *settings.usb,
                         std::strerror(errno));
            if (settings.link)
                removeLink(terminal, *settings.link);
            return 1;
        }
        std::cout << "tulk-camsim: serving usb on " << path << std::endl;
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    camera.stop();
    if (settings.link)
        removeLink(terminal, *settings.link);
    return 0;
}
