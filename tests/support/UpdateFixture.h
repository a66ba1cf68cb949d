#pragma once

#include "common/AtomicFile.h"
#include "support/Test.h"
#include "update/UpdateSignature.h"

#include <QCryptographicHash>
#include <QMap>
#include <QProcess>

// Bundles, archives and a private temporary folder for the self-update tests.
namespace UpdateFixture {

inline const QString bundleID = "org.quorrel.Quorrel";

/// The key the tests' releases are signed with, made once per test program.
inline const UpdateSignature::KeyPair& releaseKey()
{
    static const UpdateSignature::KeyPair key = UpdateSignature::generate();
    return key;
}

inline QString signature(const QByteArray& archive)
{
    return UpdateSignature::sign(archive, releaseKey().secretKey);
}

inline QByteArray infoPlist(const std::optional<QString>& identifier, const QString& version, const QString& build)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    if (identifier)
        text += "<key>CFBundleIdentifier</key><string>" + identifier->toUtf8() + "</string>\n";
    text += "<key>CFBundleShortVersionString</key><string>" + version.toUtf8() + "</string>\n";
    text += "<key>CFBundleVersion</key><string>" + build.toUtf8() + "</string>\n";
    return text + "</dict>\n</plist>\n";
}

inline void writeFile(const QString& path, const QByteArray& content, bool executable = false)
{
    ASSERT_TRUE(AtomicFile::write(path, content)) << path.toStdString();
    if (executable)
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
}

/// A bundle at `path` whose executable is `executable` (a shell script).
inline void writeBundle(const QString& path, const QByteArray& plist, const QByteArray& executable = "#!/bin/sh\n")
{
    writeFile(path + "/Contents/Info.plist", plist);
    writeFile(path + "/Contents/MacOS/Quorrel", executable, true);
}

/// A zip of `entries` (relative to `folder`) built by bsdtar; `extra` goes before the entries.
inline QByteArray zip(const QString& folder, const QStringList& entries, const QStringList& extra = {})
{
    const QString out = folder + "/../archive-" + QString::number(QDateTime::currentMSecsSinceEpoch()) + ".zip";
    QProcess bsdtar;
    bsdtar.start("bsdtar", QStringList{"-a", "-c", "-f", out, "-C", folder} + extra + entries);
    bsdtar.waitForFinished(30000);
    EXPECT_EQ(bsdtar.exitCode(), 0) << bsdtar.readAllStandardError().toStdString();
    const QByteArray bytes = AtomicFile::read(out).value_or("");
    QFile::remove(out);
    return bytes;
}

inline QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

/// Every file under `folder` with its content, to prove a tree unchanged.
inline QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), AtomicFile::read(path).value_or("<dir>"));
    }
    return files;
}

/// A temporary home whose temporary folder (TMPDIR) is its own, so work folders and swap scripts
/// of parallel tests never meet.
class Sandbox {
public:
    Sandbox()
        : m_oldTmp(qgetenv("TMPDIR"))
    {
        QDir().mkpath(tmp());
        qputenv("TMPDIR", tmp().toUtf8());
    }
    ~Sandbox() { m_oldTmp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", m_oldTmp); }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    QString path(const QString& relative) const { return home.filePath(relative); }
    QString tmp() const { return home.filePath("tmp"); }
    QStringList tmpEntries(const QString& pattern) const { return QDir(tmp()).entryList({pattern}); }

    TempHome home;

private:
    QByteArray m_oldTmp;
};

} // namespace UpdateFixture
