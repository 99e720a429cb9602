#include "Tulk.h"

int main(int argc, char** argv) {
    CTulkApp app(argc, argv);
    return app.InitInstance();
}
