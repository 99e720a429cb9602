#include "shell/FileName.h"

#include <QFile>
#include <filesystem>
#include <system_error>

bool CFileName::Exists() const {
    QString path = m_strFileName;
    if (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    if (path.isEmpty()) {
        return false;
    }
    std::error_code error;
    // A link that points nowhere is still an entry of its folder.
    return std::filesystem::exists(
        std::filesystem::symlink_status(QFile::encodeName(path).toStdString(), error));
}
