// A path with a test whether anything is there.
#pragma once

#include <QString>

class CFileName {
public:
    explicit CFileName(const QString& path) : m_strFileName(path) {}
    // Something (a folder, a file) is at the path; one "/" at its end is
    // not part of the name.
    bool Exists() const;

    QString m_strFileName;
};
