// The service corner against the simulated camera on USB: the register
// dump, Read's test write, Hack's raw bytes and both calibrations with the
// user's answers given to the real handlers' boxes.
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <set>

#include "app/ProgressWindow.h"
#include "tests/app/camera_rig.h"

namespace {

using Button = QMessageBox::StandardButton;
constexpr Button Yes = QMessageBox::Yes;
constexpr Button No = QMessageBox::No;
constexpr Button Cancel = QMessageBox::Cancel;
constexpr Button Ok = QMessageBox::Ok;

// A class-0 register that nothing else in the window uses.
constexpr int kPlainRegister = 3;

struct Rig : CameraRig {
    Rig() {
        Window();
        ConnectUsb();
        camera.clearRecord();
    }
    // The registers the camera was asked to read, by either read command.
    std::multiset<int> ReadsOf(int command) const {
        std::multiset<int> regs;
        for (const auto& c : camera.commands()) {
            if (c.command == command) {
                regs.insert(c.reg);
            }
        }
        return regs;
    }
    // The zoom factors sent, in tenths.
    std::vector<std::int32_t> Zooms() const {
        std::vector<std::int32_t> tenths;
        for (const auto& c : camera.commands()) {
            if (c.command == 3 && c.reg == C990_ZOOM && c.data.size() == 8) {
                tenths.push_back(c.data[0] | c.data[1] << 8 | c.data[2] << 16 | c.data[3] << 24);
            }
        }
        return tenths;
    }
    std::size_t Pictures() const { return Actions(C990_C2_SNAPSHOT).size(); }
    void SetField(const char* name, int value) {
        Find<QLineEdit>(name)->setText(QString::number(value));
    }
};

QStringList Texts(const QList<BoxQuestion>& boxes) {
    QStringList texts;
    for (const BoxQuestion& box : boxes) {
        texts << box.text;
    }
    return texts;
}

const QString kAutofocusAborted = "Autofocus calibration aborted, well done !";
const QString kWhiteAbortedOne = "White Balance calibration aborted, well done !";
const QString kWhiteAbortedTwo = "White Balance  calibration aborted, well done !";
const QString kFocusQuestion =
    "Q: Is the camera focused reasonably clearly and the object in the center of the display  ?";
const QString kWentWrong =
    "Something went wrong, make sure the camera is in preview and is pointing at a suitable "
    "object !";

}  // namespace

class RegisterToolsTest : public QObject {
    Q_OBJECT
private slots:
    void dumpSkipsTheRegistersThatHarmAndMarksTheUnknown();
    void readTestWritesAndRestores_data();
    void readTestWritesAndRestores();
    void hackSendsTheThreeByteGroupsOnUsb();
    void calibrations_data();
    void calibrations();
    void calibrationTextsAreTheCamerasOwn();
};

void RegisterToolsTest::dumpSkipsTheRegistersThatHarmAndMarksTheUnknown() {
    Rig rig;
    rig.camera.setInt(60, 1234);
    rig.camera.setInt(kPlainRegister, -2);
    rig.camera.setData(26, {'S', 'R', '9', '8', '1', 0, 'x'});
    // What the window says while the dump runs, sampled as it paints.
    QStringList shown;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        if (auto* w = rig.Window().findChild<CProgressWindow*>("IDD_REGISTER_DUMP")) {
            for (QLabel* label : w->findChildren<QLabel*>()) {
                if (w->isVisible() && label->text().startsWith("register ")) {
                    shown << label->text();
                }
            }
        }
    });
    sample.start(20);
    rig.Click("btnRegisterDump");
    sample.stop();

    const std::multiset<int> ints = rig.ReadsOf(1);
    const std::multiset<int> datas = rig.ReadsOf(4);
    for (int never : {14, 15, 77, 82, 0}) {
        QVERIFY2(!ints.count(never) && !datas.count(never), qPrintable(QString::number(never)));
    }
    for (int unknown : {60, 73, 74, 75, 76}) {
        QCOMPARE(ints.count(unknown), std::size_t{1});
    }
    QCOMPARE(datas.count(26), std::size_t{1});
    QCOMPARE(ints.count(93), std::size_t{1});
    QCOMPARE(ints.size() + datas.size(), std::size_t{93 - 4});

    const QString log = LogText();
    QVERIFY(log.contains("\nRegDump: (unk) Result for (60) was (1234)"));
    QVERIFY(log.contains("\nRegDump: Result for (3) was (4294967294)"));
    QVERIFY(log.contains("\nRegDump: Skipped (77) write only"));
    QVERIFY(log.contains("\nRegDump: Skipped (82) write only"));
    QVERIFY2(log.contains(QRegularExpression("\nRegDump: Result for read data from \\(26\\) was "
                                             "\\(7\\)\nLog \\([0-9]+\\) : warning : "
                                             "SR981\r\n53 52 39 38 31 00 78 \n")),
             qPrintable(log.mid(log.indexOf("(26)") - 100, 300)));
    QVERIFY(!log.contains("(14)") && !log.contains("(15)"));

    QVERIFY(shown.contains("register 1 of 93"));
    QVERIFY(shown.contains("register 93 of 93"));
    QVERIFY(!rig.Window().findChild<CProgressWindow*>("IDD_REGISTER_DUMP")->isVisible());
}

void RegisterToolsTest::readTestWritesAndRestores_data() {
    QTest::addColumn<int>("reg");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QList<int>>("writes");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("register 0 does nothing")
        << 0 << false << false << QList<int>{} << QStringList{} << QStringList{"RegDump"};
    QTest::newRow("a data register is dumped, never written")
        << int(C990_CAMERAID) << false << false << QList<int>{}
        << QStringList{"RegDump: Result for read data from (27) was (5)"}
        << QStringList{"Failed to set"};
    QTest::newRow("an integer register: old, new, old")
        << kPlainRegister << false << false << QList<int>{5, 42}
        << QStringList{"RegDump: Result for (3) was (42)", "RegDump: Result for (3) was (5)",
                       "RegDump: Result for (3) was (42)"}
        << QStringList{"Failed to set"};
    QTest::newRow("a register that refuses writes gets its old value back")
        << kPlainRegister << true << false << QList<int>{5, 5, 5, 5, 42, 42, 42, 42}
        << QStringList{"RegDump: Result for (3) was (42)", "Failed to set",
                       "RegDump: Result for (3) was (42)", "Failed to set, data ignored"}
        << QStringList{};
    // Without the old value there is nothing to put back: no test write.
    QTest::newRow("a register that cannot be read is not written")
        << kPlainRegister << false << true << QList<int>{}
        << QStringList{"RegDump: failed (17) register = (3) param (0)"}
        << QStringList{"Failed to set"};
}

void RegisterToolsTest::readTestWritesAndRestores() {
    QFETCH(int, reg);
    QFETCH(bool, readOnly);
    QFETCH(bool, refused);
    QFETCH(QList<int>, writes);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, absent);
    Rig rig;
    rig.camera.setInt(kPlainRegister, 42);
    rig.camera.setData(C990_CAMERAID, {'A', 'B', 'C', 'D', 0});
    rig.camera.setReadOnly(kPlainRegister, readOnly);
    rig.camera.setRefused(kPlainRegister, refused);
    rig.SetField("m_editRegister", reg);
    rig.SetField("m_editRegValue", 5);
    const QString before = LogText();
    rig.Click("btnRegisterRead");

    std::vector<std::int32_t> seen = rig.Writes(reg);
    QCOMPARE(QList<int>(seen.begin(), seen.end()), writes);
    QCOMPARE(rig.camera.getInt(kPlainRegister), 42);
    const QString log = LogText().mid(before.size());
    qsizetype from = 0;
    for (const QString& line : lines) {
        const qsizetype at = log.indexOf(line, from);
        QVERIFY2(at >= 0, qPrintable(line + " in\n" + log));
        from = at + line.size();
    }
    for (const QString& text : absent) {
        QVERIFY2(!log.contains(text), qPrintable(text));
    }
    if (reg == 0) {
        QVERIFY(rig.camera.commands().empty());
    }
}

void RegisterToolsTest::hackSendsTheThreeByteGroupsOnUsb() {
    Rig rig;
    rig.Click("btnHack");
    const QByteArray raw = ToBytes(rig.camera.rawReceived());
    QCOMPARE(raw.toHex(' '), QByteArray("d4 0b 66 2e 5c 71 a9 03 d4 0b 66 2e"));
    // Each group is a message of its own, which the camera takes for no
    // packet.
    int bad = 0;
    for (const auto& r : rig.camera.received()) {
        bad += r.kind == camsim::Received::BadPacket;
    }
    QCOMPARE(bad, 3);
}

void RegisterToolsTest::calibrations_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<Button>>("answers");
    QTest::addColumn<bool>("actionRefused");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("calibrated");  // argument byte sent, 0 when none
    QTest::addColumn<int>("pictures");
    QTest::addColumn<QList<int>>("zooms");

    const QString af = "btnAutoFocusCalibrate";
    const QString wb = "btnWhiteBalanceCalibrate";
    QTest::newRow("autofocus: disclaimer refused")
        << af << QList<Button>{No, Ok} << false << kAutofocusAborted << 0 << 0 << QList<int>{};
    QTest::newRow("autofocus: not really sure")
        << af << QList<Button>{Yes, Yes, Cancel, Ok} << false << kAutofocusAborted << 0 << 0
        << QList<int>{};
    QTest::newRow("autofocus: the LCD shows no preview")
        << af << QList<Button>{Yes, Yes, Yes, Yes, No, No, Ok} << false
        << "Autofocus calibration cannot continue?" << 0 << 1 << QList<int>{};
    QTest::newRow("autofocus: nothing to point at")
        << af << QList<Button>{Yes, Yes, Yes, Yes, Yes, No, Ok} << false
        << "Autofocus calibration cannot continue? Read manual" << 0 << 0 << QList<int>{};
    QTest::newRow("autofocus: Cancel in the focus loop ends it silently")
        << af << QList<Button>{Yes, Yes, Yes, Yes, Yes, Yes, No, Ok, Cancel} << false
        << kFocusQuestion << 0 << 0 << QList<int>{233, 233};
    QTest::newRow("autofocus: the last warning refused")
        << af << QList<Button>{Yes, Yes, Yes, Yes, Yes, Yes, Yes, Yes, No, Ok} << false
        << kAutofocusAborted << 0 << 0 << QList<int>{233, 81, 133};
    QTest::newRow("autofocus: the camera refuses to calibrate")
        << af << QList<Button>{Yes, Yes, Yes, Yes, Yes, Yes, Yes, Yes, Yes, Ok} << true
        << kWentWrong << 1 << 0 << QList<int>{233, 81, 133};
    QTest::newRow("autofocus: calibrated, one picture")
        << af << QList<Button>{Yes, Yes, Yes, Yes, Yes, Yes, No, Ok, Yes, Yes, Yes, Ok} << false
        << "Autofocus calibration finished, hope it works !" << 1 << 1
        << QList<int>{233, 233, 81, 133};
    QTest::newRow("white balance: disclaimer refused, one blank")
        << wb << QList<Button>{No, Ok} << false << kWhiteAbortedOne << 0 << 0 << QList<int>{};
    QTest::newRow("white balance: not sure, two blanks")
        << wb << QList<Button>{Yes, No, Ok} << false << kWhiteAbortedTwo << 0 << 0 << QList<int>{};
    QTest::newRow("white balance: lighting refused, two blanks")
        << wb << QList<Button>{Yes, Yes, Yes, No, Ok} << false << kWhiteAbortedTwo << 0 << 0
        << QList<int>{};
    QTest::newRow("white balance: the LCD shows no preview")
        << wb << QList<Button>{Yes, Yes, Yes, Yes, No, No, Ok} << false
        << "White Balance  calibration cannot continue?" << 0 << 1 << QList<int>{};
    QTest::newRow("white balance: the last warning refused after the before picture")
        << wb << QList<Button>{Yes, Yes, Yes, Yes, Yes, Yes, No, Ok} << false << kWhiteAbortedOne
        << 0 << 1 << QList<int>{133};
    QTest::newRow("white balance: calibrated, before and after pictures")
        << wb << QList<Button>{Yes, Yes, Yes, Yes, Yes, Yes, Yes, Ok} << false
        << "White Balance calibration finished, hope it works !\nThe last two pictures will be "
           "before and after shots"
        << 3 << 2 << QList<int>{133};
}

void RegisterToolsTest::calibrations() {
    QFETCH(QString, button);
    QFETCH(QList<Button>, answers);
    QFETCH(bool, actionRefused);
    QFETCH(QString, last);
    QFETCH(int, calibrated);
    QFETCH(int, pictures);
    QFETCH(QList<int>, zooms);
    Rig rig;
    if (actionRefused) {
        rig.camera.setAction(C990_CALIBRATE, [](const camsim::Bytes&) { return false; });
    }
    BoxRecorder boxes;
    for (Button answer : answers) {
        boxes.answer(answer);
    }
    const QString before = LogText();
    rig.Click(button.toLatin1().constData());

    // Every answer was asked for, and nothing after the last box.
    QCOMPARE(boxes.asked().size(), answers.size());
    QCOMPARE(boxes.asked().last().text, last);
    for (const BoxQuestion& box : boxes.asked()) {
        QCOMPARE(box.caption, QString("Tulk"));
        QCOMPARE(box.icon, QMessageBox::Critical);
    }
    const auto actions = rig.Actions(C990_CALIBRATE);
    if (calibrated == 0) {
        QVERIFY(actions.empty());
    } else {
        QVERIFY(!actions.empty());
        QCOMPARE(actions.front(), camsim::Bytes{static_cast<std::uint8_t>(calibrated)});
        const QString line = calibrated == 1
                                 ? "Auto Focus Calibration: return code for (%1) zero=(1)"
                                 : "White Balance Calibration: return code for (%1) zero=(3)";
        const QString log = LogText().mid(before.size());
        if (actionRefused) {
            QVERIFY2(log.contains(QRegularExpression("Auto Focus Calibration: return code for "
                                                     "\\((-?[1-9][0-9]*)\\) zero=\\(1\\)")),
                     qPrintable(log));
        } else {
            QVERIFY2(log.contains(line.arg(0)), qPrintable(log));
        }
    }
    QCOMPARE(rig.Pictures(), std::size_t(pictures));
    std::vector<std::int32_t> sent = rig.Zooms();
    QCOMPARE(QList<int>(sent.begin(), sent.end()), zooms);
    // The viewfinder is put into preview only when the LCD shows no scene.
    const bool lcdRefused = answers.size() >= 5 && answers[4] == No;
    QCOMPARE(rig.Actions(LCDMODE).size(), std::size_t(lcdRefused ? 1 : 0));
}

void RegisterToolsTest::calibrationTextsAreTheCamerasOwn() {
    Rig rig;
    BoxRecorder boxes;
    for (Button answer : {Yes, Yes, Yes, Yes, Yes, Yes, No}) {
        boxes.answer(answer);
    }
    rig.Click("btnWhiteBalanceCalibrate");
    const QStringList texts = Texts(boxes.asked());
    QCOMPARE(texts.size(), 8);
    QVERIFY(texts[0].startsWith("Disclaimer: this may or may not work"));
    QVERIFY(texts[0].contains("calibrate the camera\r\nThis is all work"));
    QVERIFY(
        texts[0].endsWith("software\n\n\t\t\t\tBy clicking YES you agree to accept these terms"));
    QCOMPARE(texts[1], QString("Are You Sure ?"));
    QCOMPARE(texts[2], QString("Are You Really Sure ?"));
    QVERIFY(
        texts[3].endsWith("and try again \n\n\t\t\tNote: I have no clue as to what the correct "
                          "lighting requirements are for this calibration I'm assuming you "
                          "do, if you do not, stop now "));
    QCOMPARE(texts[4],
             QString("Q: Is the LCD on the camera showing the current scene correctly  ?"));
    QCOMPARE(texts[5],
             QString("Q: Is the camera pointed at an object suitable for calibration?  ?"));
    QVERIFY(texts[6].startsWith("Warning: Selecting YES will start the auto calibration"));
    QVERIFY(texts[6].endsWith(
        "professionally\n\t\t\t!!!! DO NOT MOVE THE CAMERA, SCENE OR LIGHTS !!!!"));
    QCOMPARE(texts[7], kWhiteAbortedOne);
    // Return does not start what may harm the camera.
    QCOMPARE(boxes.asked()[0].defaultButton, QMessageBox::No);
    QCOMPARE(boxes.asked()[6].defaultButton, QMessageBox::No);
    QCOMPARE(boxes.asked()[3].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(boxes.asked()[2].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

QTEST_MAIN(RegisterToolsTest)
#include "register_tools_test.moc"
