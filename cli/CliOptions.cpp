#include "cli/CliOptions.h"

#include "link/eph.h"

#include <algorithm>
#include <functional>

#include "camera/panel_settings.h"

namespace {

bool ParseNumber(const std::string& text, long lowest, long highest, long* value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long long number = std::stoll(text);
    if (number < lowest || number > highest) {
        return false;
    }
    *value = static_cast<long>(number);
    return true;
}

std::string EntriesOf(const PanelSetting& setting) {
    if (setting.kind == PanelSetting::Zoom) {
        return "a zoom factor from 1 to 23.4";
    }
    if (setting.kind == PanelSetting::Shutter) {
        return "a whole number";
    }
    std::string text;
    for (const char* entry : setting.entries) {
        text += text.empty() ? "" : ", ";
        text += '"';
        text += entry;
        text += '"';
    }
    return text;
}

std::string SettingNames() {
    std::string text;
    for (const PanelSetting& setting : PanelSettings()) {
        text += text.empty() ? "" : ", ";
        text += setting.label;
    }
    return text;
}

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& arguments, CliOptions* options,
                     std::string* why) {
    bool timeLapse = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const auto equals = name.find('=');
            if (equals != std::string::npos) {
                inlineValue = name.substr(equals + 1);
                name.resize(equals);
            }
        }
        auto value = [&](std::string* out) {
            if (inlineValue) {
                *out = *inlineValue;
                return true;
            }
            if (i + 1 >= arguments.size()) {
                *why = name + " needs a value";
                return false;
            }
            *out = arguments[++i];
            return true;
        };
        auto flag = [&](bool* out) {
            if (inlineValue) {
                *why = name + " takes no value";
                return false;
            }
            *out = true;
            return true;
        };
        auto action = [&](CliAction::Kind kind) {
            if (inlineValue) {
                *why = name + " takes no value";
                return false;
            }
            options->actions.push_back({kind, {}, {}});
            return true;
        };
        auto timeLapseAt = [&] {
            if (!timeLapse) {
                timeLapse = true;
                options->actions.push_back({CliAction::TimeLapse, {}, {}});
            }
        };
        std::string text;
        long number = 0;
        bool ok = true;
        if (name == "--help" || name == "-h") {
            ok = flag(&options->help);
        } else if (name == "--usb") {
            ok = flag(&options->usb);
        } else if (name == "--demo") {
            ok = flag(&options->demo);
        } else if (name == "--json") {
            ok = flag(&options->json);
        } else if (name == "--new") {
            ok = flag(&options->onlyNew);
        } else if (name == "--yes") {
            ok = flag(&options->yes);
        } else if (name == "--save-every-time") {
            ok = flag(&options->saveEveryTime);
        } else if (name == "--delete-after") {
            ok = flag(&options->deleteAfter);
        } else if (name == "--ftp") {
            ok = flag(&options->ftp);
        } else if (name == "--port") {
            ok = value(&text);
            if (ok && !ParseNumber(text, 1, 99, &number)) {
                *why = "--port takes a port number from 1 to 99 (1 is COM1)";
                ok = false;
            }
            options->port = static_cast<int>(number);
        } else if (name == "--speed") {
            ok = value(&text);
            // Only the speeds the camera can be switched to: any other would
            // leave the camera and the port at different speeds.
            if (ok &&
                (!ParseNumber(text, 1, 4000000, &number) || eph_speedcode(number) == number)) {
                *why =
                    "--speed takes one of the camera's line speeds: 9600, 19200, 38400, "
                    "57600 or 115200";
                ok = false;
            }
            options->speed = number;
        } else if (name == "--interval") {
            ok = value(&text);
            if (ok && !ParseNumber(text, 0, 86400000, &number)) {
                *why = "--interval takes milliseconds (at least 100 are used)";
                ok = false;
            }
            options->interval = number;
            timeLapseAt();
        } else if (name == "--frames") {
            ok = value(&text);
            if (ok && !ParseNumber(text, 1, 1000000, &number)) {
                *why = "--frames takes how many pictures to take, at least 1";
                ok = false;
            }
            options->frames = number;
            timeLapseAt();
        } else if (name == "--folder") {
            ok = value(&text);
            if (ok && text.empty()) {
                *why = "--folder needs a folder";
                ok = false;
            }
            options->folder = text;
        } else if (name == "--hook") {
            ok = value(&text);
            options->hook = text;
        } else if (name == "--summary") {
            ok = action(CliAction::Summary);
        } else if (name == "--capture") {
            ok = action(CliAction::Capture);
        } else if (name == "--get-all") {
            ok = action(CliAction::GetAll);
        } else if (name == "--get-last") {
            ok = action(CliAction::GetLast);
        } else if (name == "--delete-last") {
            ok = action(CliAction::DeleteLast);
        } else if (name == "--delete-all") {
            ok = action(CliAction::DeleteAll);
        } else if (name == "--set") {
            ok = value(&text);
            const auto equals = text.find('=');
            const PanelSetting* setting = ok && equals != std::string::npos
                                              ? FindPanelSetting(text.substr(0, equals))
                                              : nullptr;
            if (ok && !setting) {
                *why = "--set takes NAME=VALUE, NAME one of: " + SettingNames();
                ok = false;
            } else if (ok) {
                const std::string wanted = text.substr(equals + 1);
                const bool listed = setting->entries.empty() || FindPanelEntry(*setting, wanted);
                if (!listed) {
                    *why = std::string(setting->label) + " takes " + EntriesOf(*setting);
                    ok = false;
                } else {
                    options->actions.push_back({CliAction::Set, setting->label, wanted});
                }
            }
        } else if (name == "--get") {
            ok = value(&text);
            const PanelSetting* setting = ok ? FindPanelSetting(text) : nullptr;
            if (ok && !setting) {
                *why = "--get takes a setting's name, one of: " + SettingNames();
                ok = false;
            } else if (ok && (setting->kind == PanelSetting::Viewfinder ||
                              setting->kind == PanelSetting::Shutter)) {
                *why = std::string(setting->label) + " cannot be read from the camera";
                ok = false;
            } else if (ok) {
                options->actions.push_back({CliAction::Get, setting->label, {}});
            }
        } else {
            *why = "unknown option " + arguments[i];
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    if (options->help) {
        return true;
    }
    if (options->usb && options->port) {
        *why = "--usb and --port exclude each other";
        return false;
    }
    if (options->speed && options->usb) {
        *why = "--speed is for the serial line, not --usb";
        return false;
    }
    if (options->interval && !options->frames) {
        *why = "--interval needs --frames: how many pictures to take";
        return false;
    }
    if ((options->ftp || options->deleteAfter) && !options->saveEveryTime) {
        *why = std::string(options->ftp ? "--ftp" : "--delete-after") +
               " needs --save-every-time: only downloaded pictures are published or erased";
        return false;
    }
    if ((options->saveEveryTime || options->ftp || options->deleteAfter) && !timeLapse) {
        *why = "--save-every-time, --ftp and --delete-after are for a time lapse (--frames)";
        return false;
    }
    const bool erasesAll =
        std::any_of(options->actions.begin(), options->actions.end(),
                    [](const CliAction& a) { return a.kind == CliAction::DeleteAll; });
    if (erasesAll && !options->yes) {
        *why = "--delete-all erases every picture on the camera: add --yes to mean it";
        return false;
    }
    if (options->actions.empty()) {
        *why = "nothing to do: give an action such as --summary";
        return false;
    }
    return true;
}

std::string CliHelpText() {
    std::string text = R"(Usage: tulk-cli [CONNECTION] [OPTIONS] ACTION...

Drives a camera without the window: for a time-lapse rig, a webcam on a
computer with no screen, or a script. The actions run in the order given,
on one connection, which is signed off at the end.

Connection (by default the one the Tulk window last used: "UseUSB",
"SerialPort", "SerialSpeed" and the serial devices of its settings):
  --port N          the serial port COMN (the device it stands for comes from
                    TULK_COMN, else Tulk's serial settings, else /dev/ttyS<N-1>)
  --speed BPS       the working line speed in bits per second (9600, 19200,
                    38400, 57600, 115200); the wake-up is always at 19200
  --usb             the camera on USB
  --demo            a simulated camera in this program (as "tulk --demo")

Actions:
  --summary         model, picture count, frames left, free memory, battery
                    and every setting of the window's Camera Settings panel
  --capture         take one picture (it stays on the camera)
  --get-all         download every picture into the save folder
      --new         only those whose name is not in the folder yet
  --get-last        download the newest picture
  --delete-last     erase the newest picture on the camera
  --delete-all      erase every picture on the camera (needs --yes)
  --frames N        time lapse: take N pictures, one each interval; a tick
                    that comes while a picture is still being taken is
                    dropped, not queued, so the rate stays fixed
      --interval MS the interval (at least 100; default: the window's Delay,
                    "TimerValue", 7000 at first)
      --save-every-time  download each picture right after taking it
      --delete-after     then erase it from the camera
      --ftp              then publish it as "lastpic.jpg" to the FTP server
                         of the window's FTP Settings
  --set NAME=VALUE  choose VALUE in the panel's list NAME
  --get NAME        print the entry the panel's list NAME shows
                    (NAME and VALUE as the window shows them; case, blanks
                    and "-" do not matter: --set colour-mode=b/w)

Options:
  --folder DIR      the save folder for this run (default: the window's
                    "Save to Folder", else the pictures folder + "/Tulk")
  --hook CMD        run CMD with /bin/sh after each picture is saved, with
                    the picture's path in TULK_PICTURE
  --json            --summary and --get print JSON
  --yes             confirm --delete-all
  --help            this text

Settings:
)";
    for (const PanelSetting& setting : PanelSettings()) {
        std::string entries = EntriesOf(setting);
        if (setting.kind == PanelSetting::Viewfinder || setting.kind == PanelSetting::Shutter) {
            entries += " (set only)";
        }
        // Wrapped at the blanks after the commas, within 78 columns.
        std::string line = "  " + std::string(setting.label) + ":";
        std::size_t start = 0;
        while (start < entries.size()) {
            auto end = entries.find(", ", start);
            end = end == std::string::npos ? entries.size() : end + 1;
            const std::string word = entries.substr(start, end - start);
            if (line.size() + 1 + word.size() > 78) {
                text += line + "\n";
                line = "   ";
            }
            line += " " + word;
            start = end + 1;
        }
        text += line + "\n";
        if (setting.kind == PanelSetting::Named && !setting.table) {
            text += "    (which of them a camera takes depends on its model)\n";
        }
    }
    text += R"(
Examples:
  tulk-cli --demo --summary
  tulk-cli --usb --get-all --new --folder ~/camera
  tulk-cli --port 1 --speed 115200 --set "White Balance=Sunny" --frames 1440 \
           --interval 60000 --save-every-time --delete-after --ftp \
           --hook 'convert "$TULK_PICTURE" -resize 50% "$TULK_PICTURE.small.jpg"'
  tulk-cli --get Flash --json

Output: the path of each picture saved, one a line, on standard output; the
time lapse's count of pictures and dropped ticks, warnings and errors on
standard error. On a terminal, a transfer that takes longer than a second
shows its progress on standard error. Failures go to Tulk's activity log
($XDG_STATE_HOME/tulk/tulk.log) as well.

Ctrl-C (SIGINT), SIGTERM and SIGHUP end the run after the picture in hand:
no part of a picture is left in the folder, and the camera is signed off. A
second one also stops waiting for a camera that has fallen silent and for
the FTP server.

Exit codes (the first failure decides, an interruption wins):
  0    everything done
  1    a camera operation failed (a picture not saved, a setting or a
       capture refused, the link lost)
  2    the command line cannot be carried out as written (see the message)
  3    no camera answered
  4    the save folder cannot be made or written
  5    a picture could not be published by FTP
  6    the hook could not be run or did not exit with 0
  130  stopped by a signal
)";
    return text;
}
