#include <cstdio>
#include <memory>

#include "app/Tulk.h"
#include "app/demo/Demo.h"

int main(int argc, char** argv) {
    CTulkApp app(argc, argv);
    // "--demo": a simulated camera on COM1 and USB device 0 for the window.
    // Only this program carries the simulator; the window knows nothing of it.
    std::unique_ptr<CDemoCamera> demo;
    if (app.arguments().contains(QStringLiteral("--demo"))) {
        demo = std::make_unique<CDemoCamera>();
        if (!demo->Error().empty()) {
            std::fprintf(stderr, "tulk: %s\n", demo->Error().c_str());
        }
    }
    return app.InitInstance();
}
