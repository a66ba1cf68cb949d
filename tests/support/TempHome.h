#pragma once

#include <QString>
#include <QTemporaryDir>

/// A throw-away home for one test: the support folder, the resource folder (where stand-in tools
/// go) and the XDG locations all point inside it, and tools installed on the system are ignored.
/// Everything is restored when it goes out of scope.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString supportDirectory() const;
    QString resourceDirectory() const;
    QString filePath(const QString& relative) const;

private:
    QTemporaryDir m_dir;
    QList<QByteArray> m_old; // HOME and the XDG variables as they were
};
