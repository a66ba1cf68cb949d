#include "demo/DemoUpdateOffer.h"

#include "demo/DemoFiles.h"
#include "update/UpdateSignature.h"
#include "update/Updater.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>

#include <functional>

namespace {

QString bumpedVersion(const QString& version)
{
    static const QRegularExpression last(QStringLiteral("(\\d+)$"));
    const QRegularExpressionMatch match = last.match(version);
    if (!match.hasMatch())
        return version + QStringLiteral(".1");
    return version.left(match.capturedStart(1)) + QString::number(match.captured(1).toLongLong() + 1);
}

/// Replaces the string value of `key` in a property list's text; false when the key is missing.
bool replaceString(QString& plist, const QString& key, const std::function<QString(const QString&)>& change)
{
    const QRegularExpression pattern(QStringLiteral("(<key>") + QRegularExpression::escape(key)
                                     + QStringLiteral("</key>\\s*<string>)([^<]*)(</string>)"));
    const QRegularExpressionMatch match = pattern.match(plist);
    if (!match.hasMatch())
        return false;
    plist.replace(match.capturedStart(2), match.capturedLength(2), change(match.captured(2)).toHtmlEscaped());
    return true;
}

} // namespace

namespace DemoUpdateOffer {

std::optional<QString> build(const QString& bundle, const QString& folder, const QByteArray& secretKey,
                             QJsonObject& offer)
{
    const QString staging = QDir(folder).filePath(QStringLiteral("new"));
    QDir(staging).removeRecursively();
    if (!QDir().mkpath(staging))
        return QStringLiteral("Не удалось создать ") + staging;
    const QString bundleName = QFileInfo(bundle).fileName();
    const QString newBundle = QDir(staging).filePath(bundleName);
    if (auto failure = DemoFiles::run(QStringLiteral("cp"), {QStringLiteral("-a"), bundle, newBundle}))
        return failure;

    const QString plistPath = newBundle + QStringLiteral("/Contents/Info.plist");
    QFile plistFile(plistPath);
    if (!plistFile.open(QIODevice::ReadOnly))
        return QStringLiteral("Не удалось прочитать ") + plistPath;
    QString plist = QString::fromUtf8(plistFile.readAll());
    plistFile.close();
    QString version;
    qint64 build = 0;
    const bool changed = replaceString(plist, QStringLiteral("CFBundleShortVersionString"),
                                       [&](const QString& old) { return version = bumpedVersion(old); })
                         && replaceString(plist, QStringLiteral("CFBundleVersion"), [&](const QString& old) {
                                build = Updater::parseBuild(old) + 1;
                                return QString::number(build);
                            });
    if (!changed)
        return QStringLiteral("В ") + plistPath + QStringLiteral(" нет версии сборки");
    if (auto failure = DemoFiles::write(plistPath, plist.toUtf8()))
        return failure;

    const QString archive = QDir(folder).filePath(QStringLiteral("Quorrel.zip"));
    QFile::remove(archive);
    if (auto failure =
            DemoFiles::run(QStringLiteral("bsdtar"), {QStringLiteral("-a"), QStringLiteral("-c"), QStringLiteral("-f"),
                                                      archive, QStringLiteral("-C"), staging, bundleName}))
        return failure;
    QDir(staging).removeRecursively();

    QFile zip(archive);
    if (!zip.open(QIODevice::ReadOnly))
        return QStringLiteral("Не удалось прочитать ") + archive;
    const QByteArray bytes = zip.readAll();
    offer = QJsonObject{
        {QStringLiteral("version"), version},
        {QStringLiteral("build"), build},
        {QStringLiteral("notes"),
         QStringLiteral("Это демо-обновление: та же сборка с номером на единицу больше. Его можно пройти "
                        "целиком — скачать, проверить контрольную сумму, подменить приложение и перезапустить.\n"
                        "Подменяется только копия приложения во временной папке демо-режима; настоящая сборка "
                        "и установленное приложение не меняются.")},
        {QStringLiteral("date"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {QStringLiteral("sha256"),
         QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())},
        {QStringLiteral("signature"), UpdateSignature::sign(bytes, secretKey)},
        {QStringLiteral("size"), zip.size()},
    };
    return DemoFiles::write(QDir(folder).filePath(QStringLiteral("offer.json")), QJsonDocument(offer).toJson());
}

} // namespace DemoUpdateOffer
