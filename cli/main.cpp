// tulk-cli: the camera without the window.
#include <QCoreApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/TulkCli.h"
#include "cli/platform/process.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CliOptions options;
    std::string why;
    if (!ParseCliOptions(arguments, &options, &why)) {
        std::fprintf(stderr, "tulk-cli: %s\nTry tulk-cli --help.\n", why.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(CliHelpText().c_str(), stdout);
        return kExitOk;
    }
    // Before any other thread starts, so that none of them takes a signal.
    CTulkCli cli(std::move(options));
    WatchStopSignals([&cli](int signal) { cli.RequestStop(signal); });
    // The settings store and the pictures folder come from QtCore; no
    // window system is touched.
    QCoreApplication::setOrganizationName(QStringLiteral("Orvandel"));
    QCoreApplication::setApplicationName(QStringLiteral("Tulk"));
    const int code = cli.Run();
    StopWatchingSignals();
    return code;
}
