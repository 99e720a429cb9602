// The camera settings panel against the simulated camera: what each list
// choice writes, Get Info's odd values and log lines, and the zoom field and
// slider.
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTest>
#include <cstdint>
#include <cstring>

#include "tests/app/camera_rig.h"

namespace {

// The zoom numerator the camera holds (its denominator is 10).
std::int32_t ZoomOnCamera(const camsim::Camera& camera) {
    const camsim::Bytes data = camera.getData(C990_ZOOM);
    std::int32_t numerator = -1;
    if (data.size() == 8) {
        std::memcpy(&numerator, data.data(), 4);
    }
    return numerator;
}

}  // namespace

class SettingsPanelTest : public QObject {
    Q_OBJECT
private slots:
    void choiceWritesItsValue_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::newRow("SR981 Normal") << "SR981"
                                      << "m_cbResolution"
                                      << "Normal" << C990_RESOLUTION << 11;
        QTest::newRow("SR981 Hi") << "SR981"
                                  << "m_cbResolution"
                                  << "Hi" << C990_RESOLUTION << 33;
        QTest::newRow("SX381 3:2 Fine") << "SX381"
                                        << "m_cbResolution"
                                        << "3:2 Fine" << C990_RESOLUTION << 16;
        QTest::newRow("SX381 Hi") << "SX381"
                                  << "m_cbResolution"
                                  << "Hi" << C990_RESOLUTION << 35;
        QTest::newRow("aperture Unknown") << "SR981"
                                          << "m_cbAperture"
                                          << "Unknown" << C990_APERTURE << 3;
        QTest::newRow("aperture High") << "SR981"
                                       << "m_cbAperture"
                                       << "High" << C990_APERTURE << 4;
        QTest::newRow("colour") << "SR981"
                                << "m_cbColourMode"
                                << "Colour" << C990_COLOURMODE << 1;
        QTest::newRow("flash Slow") << "SR981"
                                    << "m_cbFlash"
                                    << "Slow" << C990_FLASH << 4;
        QTest::newRow("white balance Preset") << "SR981"
                                              << "m_cbWhiteBalance"
                                              << "Preset" << WHITEBAL << 6;
        QTest::newRow("image adjust Auto") << "SR981"
                                           << "m_cbImageAdjust"
                                           << "Auto" << C990_IMAGEADJ << 5;
        QTest::newRow("metering Spot AF") << "SR981"
                                          << "m_cbMetering"
                                          << "Spot AF" << C990_METERING << 6;
        QTest::newRow("metering Center") << "SR981"
                                         << "m_cbMetering"
                                         << "Center" << C990_METERING << 2;
    }
    void choiceWritesItsValue() {
        QFETCH(QString, model);
        QFETCH(QString, list);
        QFETCH(QString, entry);
        QFETCH(int, reg);
        QFETCH(int, value);
        CameraRig rig;
        rig.camera.setModel(model.toStdString());
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.Choose(list.toLatin1().constData(), entry);
        QCOMPARE(rig.Writes(reg), (std::vector<std::int32_t>{value}));
        QCOMPARE(rig.camera.getInt(reg), value);
    }

    // The resolution names of an unknown model name no choice.
    void resolutionOnAnUnknownModelWritesNothing_data() {
        QTest::addColumn<QString>("model");
        QTest::newRow("other") << "QX100";
        QTest::newRow("empty") << "";
        // Longer than the code's buffer: cut, and no known model.
        QTest::newRow("overlong") << "SR981" + QString(5000, 'x');
    }
    void resolutionOnAnUnknownModelWritesNothing() {
        QFETCH(QString, model);
        CameraRig rig;
        rig.camera.setModel(model.toStdString());
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.Choose("m_cbResolution", "VGA Basic");
        QVERIFY(rig.Writes(C990_RESOLUTION).empty());
        QVERIFY(LogText().contains("Bad res setting"));
        // Nor does an entry that the model's table lacks.
        rig.camera.setModel("SR981");
        rig.Choose("m_cbResolution", "3:2 Fine");
        QVERIFY(rig.Writes(C990_RESOLUTION).empty());
    }

    void focusWritesOneThenTheValue() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.Choose("m_cbFocus", "Macro");
        QCOMPARE(rig.Writes(C990_FOCUSMODE), (std::vector<std::int32_t>{1, 1}));
        rig.camera.clearRecord();
        rig.Choose("m_cbFocus", "Infinity");
        QCOMPARE(rig.Writes(C990_FOCUSMODE), (std::vector<std::int32_t>{1, 3}));
        QCOMPARE(g_nFocusMode.load(), 3);
        QVERIFY(!LogText().contains("FOCUSMODE set failed"));
        // The next capture writes the focus mode chosen.
        rig.camera.clearRecord();
        rig.Choose("m_cbFocus", "Normal");
        rig.camera.clearRecord();
        rig.Click("btnTakePicture");
        QCOMPARE(rig.Writes(C990_FOCUSMODE), (std::vector<std::int32_t>{2, 2}));
    }

    void viewfinderSendsLcdMode_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("mode");
        QTest::newRow("Off") << "Off" << 1;
        QTest::newRow("Previous") << "Previous" << 8;
    }
    void viewfinderSendsLcdMode() {
        QFETCH(QString, entry);
        QFETCH(int, mode);
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.Choose("m_cbViewfinder", entry);
        QCOMPARE(rig.Actions(LCDMODE), (std::vector<camsim::Bytes>{{std::uint8_t(mode)}}));
    }

    void refusedWriteIsLogged() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.setRefused(C990_APERTURE, true);
        rig.Choose("m_cbAperture", "Low");
        QVERIFY(LogText().contains("APERTURE set failed (1)"));
        rig.camera.setRefused(C990_COLOURMODE, true);
        rig.Choose("m_cbColourMode", "B/W");
        QVERIFY(LogText().contains("COLOURMODE set failed (2)"));
        rig.camera.setAction(LCDMODE, [](const camsim::Bytes&) { return false; });
        rig.Choose("m_cbViewfinder", "Next");
        QVERIFY(LogText().contains("LCDMODE failed"));
    }

    void choicesNeedAConnection() {
        CameraRig rig;
        rig.Window();
        rig.Choose("m_cbFlash", "On");
        rig.Choose("m_cbViewfinder", "Next");
        rig.Click("btnGetInfo");
        QVERIFY(rig.camera.commands().empty());
    }

    // Values that name nothing in their lists, and reads that fail.
    void getInfoOddValues() {
        CameraRig rig;
        rig.ConnectUsb();
        auto* whiteBalance = rig.Find<QComboBox>("m_cbWhiteBalance");
        QCOMPARE(whiteBalance->currentText(), QString("Flash"));
        rig.camera.setInt(WHITEBAL, 255);
        rig.camera.setInt(C990_METERING, 0);
        rig.camera.setInt(C990_BATTERY, 42);
        rig.camera.setInt(C990_COLOURMODE, 1);
        rig.camera.setRefused(C990_APERTURE, true);
        rig.Click("btnGetInfo");
        QCOMPARE(whiteBalance->currentText(), QString("Flash"));
        QCOMPARE(rig.Find<QComboBox>("m_cbMetering")->currentText(), QString("Matrix"));
        QCOMPARE(rig.Find<QProgressBar>("m_progBattery")->value(), 42);
        QCOMPARE(rig.Find<QComboBox>("m_cbColourMode")->currentText(), QString("Colour"));
        QCOMPARE(rig.Find<QComboBox>("m_cbAperture")->currentText(), QString("Medium"));
        const QString log = LogText();
        QVERIFY2(log.contains("C990_METERING: str=Unknown, val=4"), qPrintable(log));
        // A refused read is no -1: only the "found" line.
        QVERIFY(!log.contains("warning : C990_APERTURE\r\n"));
        QVERIFY(log.contains("C999_APERTURE: str=Auto, val="));
        QVERIFY(!log.contains("C999_RESOLUTION"));

        // The same value on the other model names "" and selects nothing.
        rig.camera.setModel("SX381");
        rig.Click("btnGetInfo");
        QCOMPARE(rig.Find<QComboBox>("m_cbResolution")->currentText(), QString("Normal"));
        QVERIFY(LogText().contains("C999_RESOLUTION: str=, val=14"));
    }

    void zoomFieldClampsAndConverts_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("slider");
        QTest::newRow("below") << "0.5"
                               << "  1" << 10;
        QTest::newRow("above") << "30"
                               << "23.4" << 234;
        QTest::newRow("within") << "5"
                                << "5" << 50;
        QTest::newRow("no number") << "zoom"
                                   << "  1" << 10;
        QTest::newRow("nan") << "nan"
                             << "  1" << 10;
    }
    void zoomFieldClampsAndConverts() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, slider);
        CameraRig rig;
        rig.ConnectUsb();
        rig.TypeAndLeave("m_editZoom", typed);
        QCOMPARE(rig.Find<QLineEdit>("m_editZoom")->text(), shown);
        QCOMPARE(rig.Find<QSlider>("m_sliderZoom")->value(), slider);
        // The zoom operation sends half a tenth less, cut to a whole tenth.
        QCOMPARE(ZoomOnCamera(rig.camera), slider - 1);
    }

    void zoomFieldWithoutConnectionSendsNothing() {
        CameraRig rig;
        rig.TypeAndLeave("m_editZoom", "30");
        QCOMPARE(rig.Find<QSlider>("m_sliderZoom")->value(), 234);
        QCOMPARE(rig.Find<QLineEdit>("m_editZoom")->text(), QString("23.4"));
        QVERIFY(rig.camera.commands().empty());
    }

    void sliderReleaseSetsAndReadsBack() {
        CameraRig rig;
        rig.ConnectUsb();
        auto* slider = rig.Find<QSlider>("m_sliderZoom");
        slider->setValue(100);
        emit slider->sliderReleased();
        // What the camera got (half a tenth less, cut) is read back.
        QCOMPARE(ZoomOnCamera(rig.camera), 99);
        QCOMPARE(slider->value(), 99);
        QCOMPARE(rig.Find<QLineEdit>("m_editZoom")->text(), QString("9.9"));
    }

    void shutterFieldSendsOnEveryLeave() {
        CameraRig rig;
        rig.ConnectUsb();
        rig.camera.clearRecord();
        rig.TypeAndLeave("m_editShutter", "250");
        rig.TypeAndLeave("m_editShutter", "250");
        QCOMPARE(rig.Writes(SHUTTERSPEED), (std::vector<std::int32_t>{250, 250}));
    }
};

QTEST_MAIN(SettingsPanelTest)
#include "settings_panel_test.moc"
