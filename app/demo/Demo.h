// The demo: a simulated camera in the same process, so that a new user can
// press Connect and try everything without a camera.
#pragma once

#include <memory>
#include <string>

namespace camsim {
class Camera;
}

class CDemoCamera {
public:
    // Starts the camera with a few pictures, on a pseudo-terminal that COM1
    // stands for (any line speed) and on USB device 0. Error() says what did
    // not start; the camera still serves whatever did.
    CDemoCamera();
    ~CDemoCamera();
    const std::string& Error() const { return m_strError; }

private:
    std::unique_ptr<camsim::Camera> m_camera;
    std::string m_strError;
};
