// The settings store: both operations, their return conventions and log
// lines, names without regard to case, the store made on first use and kept
// to its owner.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <limits>
#include <thread>

#include "app/Settings.h"
#include "app/platform/settings_file.h"
#include "log/activity_log.h"
#include "tests/app/app_fixture.h"
#include "tests/app/platform/other_user.h"

namespace {

// The number of warning lines in the log that end with the message.
int WarningLines(const QString& message) {
    const QRegularExpression line(
        "Log \\(\\d+\\) : warning : " + QRegularExpression::escape(message) + "\r\n");
    return static_cast<int>(LogText().count(line));
}

QFile::Permissions OwnerOnly() {
    return QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
}

}  // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FreshHome> home_;

private slots:
    void init() { home_ = std::make_unique<FreshHome>(); }
    void cleanup() { home_.reset(); }

    void dwordRoundTrip_data() {
        QTest::addColumn<int>("value");
        QTest::newRow("zero") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("delay") << 7000;
        QTest::newRow("minus one") << -1;
        QTest::newRow("lowest") << std::numeric_limits<int>::min();
        QTest::newRow("highest") << std::numeric_limits<int>::max();
    }
    void dwordRoundTrip() {
        QFETCH(int, value);
        std::int32_t written = value;
        QCOMPARE(SettingDword("TimerValue", &written, 1), 1);
        std::int32_t read = 12345;
        QCOMPARE(SettingDword("TimerValue", &read, 0), 1);
        QCOMPARE(read, value);
        // Every mode other than 1 reads.
        read = 12345;
        QCOMPARE(SettingDword("TimerValue", &read, 7), 1);
        QCOMPARE(read, value);
    }

    void namesIgnoreCase() {
        std::int32_t value = 1;
        QCOMPARE(SettingDword("OnlyNew", &value, 1), 1);
        value = 0;
        QCOMPARE(SettingDword("OnlyNEW", &value, 0), 1);
        QCOMPARE(value, 1);
        std::string text = "ftp.example.org";
        QCOMPARE(SettingString("FTPSite", &text, 1), 0);
        text.clear();
        QCOMPARE(SettingString("ftpsite", &text, 0), 0);
        QCOMPARE(text, std::string("ftp.example.org"));
        // One value, overwritten by another spelling, not a second value.
        value = 0;
        QCOMPARE(SettingDword("ONLYNEW", &value, 1), 1);
        value = 5;
        QCOMPARE(SettingDword("OnlyNew", &value, 0), 1);
        QCOMPARE(value, 0);
        QFile file(QString::fromStdString(SettingsFilePath()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()).count("onlynew", Qt::CaseInsensitive), 1);
    }

    void missingDwordIsLoggedAndLeftAlone() {
        std::int32_t value = 1234;
        QCOMPARE(SettingDword("TimerValue", &value, 0), 0);
        QCOMPARE(value, 1234);
        QCOMPARE(WarningLines("read status = 2 for key TimerValue"), 1);
        // The first call made the store, owner only.
        const QFileInfo file(QString::fromStdString(SettingsFilePath()));
        QVERIFY(file.exists());
        QCOMPARE(file.filePath(), home_->configHome() + "/Orvandel/Tulk.conf");
        QCOMPARE(file.permissions(), OwnerOnly());
    }

    // What a value stored as text gives when read as a number.
    void dwordFromText_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<int>("value");
        QTest::newRow("number") << "42" << true << 42;
        QTest::newRow("blanks around") << " 42 " << true << 42;
        QTest::newRow("negative") << "-7" << true << -7;
        QTest::newRow("32 bits unsigned") << "4294967295" << true << -1;
        QTest::newRow("beyond 32 bits") << "4294967296" << false << 0;
        QTest::newRow("words") << "abc" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("trailing junk") << "12abc" << false << 0;
    }
    void dwordFromText() {
        QFETCH(QString, stored);
        QFETCH(bool, readable);
        QFETCH(int, value);
        std::string text = stored.toStdString();
        QCOMPARE(SettingString("SerialPort", &text, 1), 0);
        std::int32_t read = 99;
        QCOMPARE(SettingDword("SerialPort", &read, 0), readable ? 1 : 0);
        QCOMPARE(read, readable ? value : 99);
        QCOMPARE(WarningLines("read status = 22 for key SerialPort"), readable ? 0 : 1);
    }

    void stringRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("folder") << "/home/me/Pictures/Camera";
        QTest::newRow("blanks kept") << "  padded  ";
        QTest::newRow("ini syntax") << "a, b; c = \"d\" # [e] \\f @g";
        QTest::newRow("at start") << "@Variant(x)";
        QTest::newRow("not ascii") << QString::fromUtf8("Bilder/Ĳsselmeer/日本");
        QTest::newRow("1023") << QString(1023, 'x');
        QTest::newRow("longer than 1023") << QString(5000, 'y');
    }
    void stringRoundTrip() {
        QFETCH(QString, text);
        std::string written = text.toStdString();
        QCOMPARE(SettingString("SaveFolder", &written, 1), 0);
        std::string read = "unchanged";
        QCOMPARE(SettingString("SaveFolder", &read, 0), 0);
        QCOMPARE(QString::fromStdString(read), text);
    }

    void stringModes() {
        const QString path = QString::fromStdString(SettingsFilePath());
        QVERIFY(!QFileInfo::exists(path));
        std::string text = "kept";
        // Neither read nor write, but the store is made.
        QCOMPARE(SettingString("FTPDir", &text, 2), 0);
        QCOMPARE(text, std::string("kept"));
        QVERIFY(QFileInfo::exists(path));
        // A missing text: -1, the caller's text as it was, nothing logged.
        QCOMPARE(SettingString("FTPDir", &text, 0), -1);
        QCOMPARE(text, std::string("kept"));
        QVERIFY(!LogText().contains("FTPDir"));
        // An empty text is a value.
        std::string empty;
        QCOMPARE(SettingString("FTPDir", &empty, 1), 0);
        QCOMPARE(SettingString("FTPDir", &text, 0), 0);
        QCOMPARE(text, std::string());
        // Mode 2 did not write what it was given.
        text = "not stored";
        QCOMPARE(SettingString("FTPDir", &text, 2), 0);
        QCOMPARE(SettingString("FTPDir", &text, 0), 0);
        QCOMPARE(text, std::string());
    }

    // The store holds the FTP password: whatever made the file, it ends up
    // readable by its owner only.
    void fileKeptToOwner() {
        const QString path = QString::fromStdString(SettingsFilePath());
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[General]\n");
        }
        QVERIFY(QFile::setPermissions(path, OwnerOnly() | QFile::ReadGroup | QFile::ReadOther));
        std::string secret = "s3cret";
        QCOMPARE(SettingString("FTPPass", &secret, 1), 0);
        QCOMPARE(QFileInfo(path).permissions(), OwnerOnly());
        std::int32_t value = 1;
        QCOMPARE(SettingDword("UseUSB", &value, 1), 1);
        QCOMPARE(QFileInfo(path).permissions(), OwnerOnly());
    }

    // The store's folder is its owner's alone, however it was made.
    void folderKeptToOwner() {
        const QString folder = QFileInfo(QString::fromStdString(SettingsFilePath())).path();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(
            folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                        QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        std::int32_t value = 1;
        QCOMPARE(SettingDword("UseUSB", &value, 1), 1);
        QCOMPARE(QFileInfo(folder).permissions(), OwnerOnly() | QFile::ExeOwner | QFile::ExeUser);
    }

    // One damaged line hides nothing: every good value reads, the damaged
    // file is kept beside the store once, and the store is clean again.
    void damagedFileReadsWhatItCan_data() {
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("no =") << QByteArray("a line that is no setting");
        QTest::newRow("unclosed section") << QByteArray("[Unclosed");
        QTest::newRow("zero bytes") << QByteArray("ftp\0site=elsewhere", 19);
    }
    void damagedFileReadsWhatItCan() {
        QFETCH(QByteArray, damage);
        const QString path = QString::fromStdString(SettingsFilePath());
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        const QByteArray damaged = "[General]\nsavefolder=/pictures/here\n" + damage +
                                   "\ntimervalue=250\nftpsite=ftp.example.org\nftpdir=a\\\nb\n";
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(damaged);
        }
        std::string text;
        QCOMPARE(SettingString("SaveFolder", &text, 0), 0);
        QCOMPARE(text, std::string("/pictures/here"));
        QCOMPARE(SettingString("FTPSite", &text, 0), 0);
        QCOMPARE(text, std::string("ftp.example.org"));
        std::int32_t value = 0;
        QCOMPARE(SettingDword("TimerValue", &value, 0), 1);
        QCOMPARE(value, 250);
        // The damaged file as it was, to its owner only.
        QFile bad(path + ".bad");
        QVERIFY(bad.open(QIODevice::ReadOnly));
        QCOMPARE(bad.readAll(), damaged);
        QCOMPARE(bad.permissions(), OwnerOnly());
        QCOMPARE(LogText().count("settings file damaged: kept as " + path + ".bad"), 1);
        // The store reads as a clean file, and a write keeps it so.
        value = 300;
        QCOMPARE(SettingDword("TimerValue", &value, 1), 1);
        QVERIFY(!LogText().contains("write status"));
        QSettings clean(path, QSettings::IniFormat);
        QCOMPARE(clean.value("timervalue").toInt(), 300);
        QCOMPARE(clean.value("ftpdir").toString(), QString("ab"));
        QCOMPARE(clean.status(), QSettings::NoError);
        QCOMPARE(QFileInfo(path).permissions(), OwnerOnly());
        // A second damage leaves the first one kept.
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write("\nmore damage\n");
        }
        QCOMPARE(SettingDword("TimerValue", &value, 0), 1);
        bad.seek(0);
        QCOMPARE(bad.readAll(), damaged);
    }

    // A settings file that can be read but not written still gives its
    // values; each write fails, with the log line where there is one.
    void readOnlyFileIsRead() {
        QTemporaryDir scratch;
        const QString config = scratch.path() + "/config";
        QVERIFY(QDir().mkpath(config + "/Orvandel"));
        const QString path = config + "/Orvandel/Tulk.conf";
        const QByteArray stored = "[General]\nsavefolder=/pictures/here\ntimervalue=250\n";
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(stored);
        }
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser));
        const int failures = RunAsPlainUser(scratch.path().toStdString(), [&] {
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
            qputenv("XDG_STATE_HOME", QFile::encodeName(scratch.path() + "/state"));
            CloseLog();
            int failed = 0;
            std::string text;
            if (SettingString("SaveFolder", &text, 0) != 0 || text != "/pictures/here") {
                failed |= 1;
            }
            std::int32_t value = 0;
            if (SettingDword("TimerValue", &value, 0) != 1 || value != 250) {
                failed |= 2;
            }
            value = 7;
            if (SettingDword("TimerValue", &value, 1) != 0) {
                failed |= 4;
            }
            if (SettingString("SaveFolder", &text, 1) != -1) {
                failed |= 8;
            }
            CloseLog();
            return failed;
        });
        QCOMPARE(failures, 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), stored);
        QFile log(scratch.path() + "/state/tulk/tulk.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("write status = 13 for key TimerValue, value=7"));
    }

    // No store at all (its folder cannot be made): every read falls back,
    // every write is lost, SettingDword logs and SettingString stays quiet.
    void storeCannotBeOpened() {
        const QString blocker = home_->path() + "/not-a-folder";
        {
            QFile file(blocker);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker));
        std::int32_t value = 5;
        QCOMPARE(SettingDword("TimerValue", &value, 0), 0);
        QCOMPARE(value, 5);
        QCOMPARE(SettingDword("TimerValue", &value, 1), 0);
        QCOMPARE(WarningLines("Code = 20.\n"), 2);
        QVERIFY(!LogText().contains("status"));
        const QString logBefore = LogText();
        std::string text = "kept";
        QCOMPARE(SettingString("SaveFolder", &text, 0), -1);
        QCOMPARE(text, std::string("kept"));
        QCOMPARE(SettingString("SaveFolder", &text, 1), -1);
        QCOMPARE(SettingString("SaveFolder", &text, 2), -1);
        QCOMPARE(LogText(), logBefore);
    }

    // The FTP upload writes and reads texts on the picture thread while the
    // window thread uses the store.
    void callsFromTwoThreads() {
        constexpr int kEach = 40;
        auto writer = [](const char* prefix) {
            for (int i = 0; i < kEach; ++i) {
                std::string name = prefix + std::to_string(i);
                std::string value = name + "-value";
                if (SettingString(name.c_str(), &value, 1) != 0) {
                    return false;
                }
            }
            return true;
        };
        bool firstOk = false;
        std::thread other([&] { firstOk = writer("Picture"); });
        const bool secondOk = writer("Window");
        other.join();
        QVERIFY(firstOk);
        QVERIFY(secondOk);
        for (const char* prefix : {"Picture", "Window"}) {
            for (int i = 0; i < kEach; ++i) {
                const std::string name = prefix + std::to_string(i);
                std::string value;
                QCOMPARE(SettingString(name.c_str(), &value, 0), 0);
                QCOMPARE(value, name + "-value");
            }
        }
    }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "settings_store_test.moc"
