#include "app/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <mutex>

#include "app/platform/settings_file.h"
#include "log/activity_log.h"

namespace {

// The log lines of the store carry this source name.
constexpr const char* kSource = "TulkDlg";

// One call at a time, so that a write from the picture thread and a read on
// the window thread never interleave on the file.
std::mutex g_storeMutex;

// The store keeps its names in lower case: that is how two spellings of one
// name find the same value.
QString FoldedName(const char* name) {
    return QString::fromUtf8(name).toLower();
}

// The store's own error codes are the system's error numbers. A line the
// store could not make sense of is no failure: what it could read stands.
int StatusCode(const QSettings& store) {
    switch (store.status()) {
        case QSettings::NoError:
        case QSettings::FormatError:
            return 0;
        case QSettings::AccessError:
            return EACCES;
    }
    return EIO;
}

// A line the store reads as it was meant: blank, a comment, a whole section
// header, or a name and "=" (or the rest of a value that the line before
// carried on); never one with a zero byte.
bool GoodLine(const QByteArray& line, bool continued) {
    if (line.contains('\0')) {
        return false;
    }
    const QByteArray text = line.trimmed();
    if (continued || text.isEmpty() || text.startsWith(';')) {
        return true;
    }
    if (text.startsWith('[')) {
        return text.endsWith(']') && text.indexOf(']') == text.size() - 1;
    }
    return text.indexOf('=') > 0;
}

// A value carries on to the next line when its line ends in an odd number
// of backslashes.
bool CarriesOn(const QByteArray& line) {
    const QByteArray text = line.trimmed();
    qsizetype backslashes = 0;
    while (backslashes < text.size() && text[text.size() - 1 - backslashes] == '\\') {
        ++backslashes;
    }
    return backslashes % 2 == 1;
}

// A damaged file (a hand edit gone wrong, a disk that failed) keeps every
// good line: the damaged file is kept beside it as "Tulk.conf.bad" (the
// first one found is never replaced), and the file is written again without
// the lines the store could not read, which would otherwise hide the values
// after them or be dropped unseen at the next write.
void RepairStore(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    QByteArray clean;
    bool damaged = false;
    bool continued = false;
    for (const QByteArray& line : lines) {
        if (GoodLine(line, continued)) {
            clean += line + '\n';
            continued = CarriesOn(line);
        } else {
            damaged = true;
            continued = false;
        }
    }
    if (!damaged) {
        return;
    }
    clean.chop(1);
    const QString bad = file.fileName() + QStringLiteral(".bad");
    constexpr auto kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
    if (!QFileInfo::exists(bad)) {
        if (!QFile::copy(file.fileName(), bad) || !QFile::setPermissions(bad, kOwnerOnly)) {
            // Without the copy the damaged lines would be lost: leave it.
            WriteLog(kSource, __LINE__, "settings file damaged, and it could not be kept");
            return;
        }
    }
    QSaveFile out(file.fileName());
    if (!out.open(QIODevice::WriteOnly) || !out.setPermissions(kOwnerOnly) ||
        out.write(clean) != clean.size() || !out.commit()) {
        WriteLog(kSource, __LINE__, "settings file damaged, and it could not be written again");
        return;
    }
    std::snprintf(g_szErrorText, kErrorTextSize, "settings file damaged: kept as %s",
                  bad.toUtf8().constData());
    WriteLog(kSource, __LINE__, g_szErrorText);
}

// Opens the store, creating it when missing and mending it when damaged.
// 0 or the error number; a file that can only be read reads.
int OpenStore(std::string* path) {
    *path = SettingsFilePath();
    bool writable = false;
    const int code = PrepareSettingsFile(*path, &writable);
    if (code == 0 && writable) {
        RepairStore(*path);
    }
    return code;
}

// A 32-bit value as stored: what fits in 32 bits, signed or not, is taken
// as its 32 bits; anything else is not a number the store can hand out.
bool ToDword(const QVariant& stored, std::int32_t* value) {
    bool ok = false;
    const qlonglong number = stored.toString().trimmed().toLongLong(&ok);
    if (!ok || number < std::numeric_limits<std::int32_t>::min() ||
        number > static_cast<qlonglong>(std::numeric_limits<std::uint32_t>::max())) {
        return false;
    }
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
    return true;
}

}  // namespace

int SettingDword(const char* name, std::int32_t* value, int mode) {
    std::lock_guard lock(g_storeMutex);
    std::string path;
    if (const int code = OpenStore(&path); code != 0) {
        std::snprintf(g_szErrorText, kErrorTextSize, "Code = %d.\n", code);
        WriteLog(kSource, __LINE__, g_szErrorText);
        return 0;
    }
    QSettings store(QString::fromStdString(path), QSettings::IniFormat);
    if (mode == 1) {
        store.setValue(FoldedName(name), *value);
        store.sync();
        if (const int code = StatusCode(store); code != 0) {
            std::snprintf(g_szErrorText, kErrorTextSize, "write status = %d for key %s, value=%ld",
                          code, name, static_cast<long>(*value));
            WriteLog(kSource, __LINE__, g_szErrorText);
            return 0;
        }
        return 1;
    }
    int code = StatusCode(store);
    if (code == 0) {
        const QVariant stored = store.value(FoldedName(name));
        if (!stored.isValid()) {
            code = ENOENT;
        } else if (!ToDword(stored, value)) {
            code = EINVAL;
        }
    }
    if (code != 0) {
        std::snprintf(g_szErrorText, kErrorTextSize, "read status = %d for key %s", code, name);
        WriteLog(kSource, __LINE__, g_szErrorText);
        return 0;
    }
    return 1;
}

int SettingString(const char* name, std::string* value, int mode) {
    std::lock_guard lock(g_storeMutex);
    std::string path;
    if (OpenStore(&path) != 0) {
        return -1;
    }
    QSettings store(QString::fromStdString(path), QSettings::IniFormat);
    if (mode == 0) {
        const QVariant stored = store.value(FoldedName(name));
        if (StatusCode(store) != 0 || !stored.isValid()) {
            return -1;
        }
        // A hand-edited file may hold a list where a text was meant.
        const QString text = stored.typeId() == QMetaType::QStringList
                                 ? stored.toStringList().join(QLatin1Char(','))
                                 : stored.toString();
        const QByteArray bytes = text.toUtf8();
        // The text ends at its first zero byte, as a text handed in does.
        *value = std::string(bytes.constData());
        return 0;
    }
    if (mode == 1) {
        store.setValue(FoldedName(name), QString::fromUtf8(value->c_str()));
        store.sync();
        if (StatusCode(store) != 0) {
            return -1;
        }
    }
    return 0;
}

std::string SerialDeviceSettingName(int port) {
    return "SerialDevice" + std::to_string(port);
}

std::map<int, std::string> LoadPortMap() {
    std::map<int, std::string> devices;
    for (int port = 1; port <= kSerialPortCount; ++port) {
        std::string device;
        if (SettingString(SerialDeviceSettingName(port).c_str(), &device, 0) == 0 &&
            !device.empty()) {
            devices[port] = device;
        }
    }
    return devices;
}
