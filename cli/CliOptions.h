// tulk-cli's command line: the options, the actions in the order given, and
// the exit codes a script can rely on.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum CliExit {
    kExitOk = 0,
    // A camera operation failed: a picture not saved, a setting refused, a
    // capture refused, the link lost.
    kExitFailed = 1,
    // The command line cannot be carried out as written.
    kExitUsage = 2,
    // No camera answered.
    kExitNoCamera = 3,
    // The save folder cannot be made or written.
    kExitFolder = 4,
    // A picture could not be published by FTP.
    kExitFtp = 5,
    // The hook could not be run or ended with another status than 0.
    kExitHook = 6,
    // Stopped by SIGINT, SIGTERM or SIGHUP (after the picture in hand).
    kExitInterrupted = 130,
};

struct CliAction {
    enum Kind { Summary, Capture, GetAll, GetLast, DeleteLast, DeleteAll, TimeLapse, Set, Get };
    Kind kind;
    std::string name;
    std::string value;
};

struct CliOptions {
    bool help = false;
    bool usb = false;
    bool demo = false;
    std::optional<int> port;
    std::optional<long> speed;
    bool json = false;
    bool onlyNew = false;
    bool yes = false;
    bool saveEveryTime = false;
    bool deleteAfter = false;
    bool ftp = false;
    std::optional<long> interval;
    std::optional<long> frames;
    std::optional<std::string> folder;
    std::optional<std::string> hook;
    std::vector<CliAction> actions;
};

// False with the reason when the command line cannot be used.
bool ParseCliOptions(const std::vector<std::string>& arguments, CliOptions* options,
                     std::string* why);

std::string CliHelpText();
