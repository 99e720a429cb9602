#include "app/demo/Demo.h"

#include <QByteArray>
#include <QtGlobal>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "camera/registers.h"
#include "sim/camsim.h"

namespace {

constexpr int kDemoPictures = 6;

}  // namespace

CDemoCamera::CDemoCamera() : m_camera(std::make_unique<camsim::Camera>()) {
    camsim::Camera& camera = *m_camera;
    camera.setModel("SR981");
    camera.generatePictures(kDemoPictures, 640, 480);
    camera.setInt(C990_RESOLUTION, 12);
    camera.setInt(C990_APERTURE, 0);
    camera.setInt(C990_COLOURMODE, 1);
    camera.setInt(C990_BATTERY, 80);
    camera.setInt(C990_FLASH, 0);
    camera.setInt(WHITEBAL, 0);
    camera.setInt(C990_IMAGEADJ, 0);
    camera.setInt(C990_METERING, 5);
    camera.setInt(C990_FOCUSMODE, 2);
    // A snapshot takes a moment, as on a real camera, so the wait window of
    // a time lapse can be seen.
    camera.setActionTime(C990_C2_SNAPSHOT, std::chrono::milliseconds(400));
    // Pictures come down the serial line no faster than a real camera sends
    // them at the speed chosen, so the download windows can be seen.
    camera.setPacing(true);

    const std::string tty = camera.startSerial();
    if (tty.empty()) {
        m_strError += "The simulated camera's serial line did not start. ";
    } else {
        // The environment outranks the stored port map, so COM1 is the
        // demo's whatever the settings say.
        qputenv("TULK_COM1", QByteArray::fromStdString(tty));
    }
    if (camera.startUsb(0).empty()) {
        m_strError += "The simulated camera's USB socket did not start (";
        m_strError += std::strerror(errno);
        m_strError += ").";
    }
}

CDemoCamera::~CDemoCamera() = default;
