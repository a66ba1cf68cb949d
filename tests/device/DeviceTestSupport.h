#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "device/CfgUtilError.h"

#include <functional>

#include <gtest/gtest.h>

// Scenario pieces for the stand-in tools, and the fixtures of tests/data/device.
namespace DeviceTest {

inline QJsonObject out(const QString& text, const QString& end = "\n")
{
    return {{"out", text}, {"end", end}};
}
inline QJsonObject err(const QString& text, const QString& end = "\n")
{
    return {{"err", text}, {"end", end}};
}

inline QJsonObject rule(const QString& tool, const QStringList& args, const QJsonArray& steps, int exit = 0)
{
    return {{"tool", tool}, {"args", QJsonArray::fromStringList(args)}, {"steps", steps}, {"exit", exit}};
}

inline QJsonObject matching(const QString& tool, const QString& pattern, const QJsonArray& steps, int exit = 0)
{
    return {{"tool", tool}, {"match", pattern}, {"steps", steps}, {"exit", exit}};
}

inline QJsonObject scenario(const QJsonArray& rules)
{
    return {{"rules", rules}};
}

/// The description of the device error `action` throws, or "(no failure)".
inline QString failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CfgUtilError& error) {
        return error.description();
    }
    return "(no failure)";
}

inline QByteArray fixture(const QString& name)
{
    QFile file(QString(QUORREL_TEST_DATA_DIR) + "/device/" + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

// What `ideviceinstaller --help` prints in 1.1.1 (Debian 12) and from 1.2.0 on, cut to the lines that differ.
inline QString legacyHelp()
{
    return "Usage: ideviceinstaller OPTIONS\n\nOPTIONS:\n  -u, --udid UDID\tTarget specific device by UDID.\n"
           "  -l, --list-apps\tList apps, possible options:\n";
}

inline QString modernHelp()
{
    return "Usage: ideviceinstaller OPTIONS\n\nCOMMANDS:\n  list                List installed apps. Options:\n\n"
           "OPTIONS:\n  -u, --udid UDID     Target specific device by UDID\n";
}

// An XML app list as ideviceinstaller prints it, from ready-made <dict> elements.
inline QString appList(const QStringList& dicts)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<array>\n"
           + dicts.join("\n") + "\n</array>\n</plist>\n";
}

inline QString appDict(const QString& bundleID, const QString& name = {}, const QString& extra = {})
{
    QString dict = "<dict><key>CFBundleIdentifier</key><string>" + bundleID + "</string>";
    if (!name.isEmpty())
        dict += "<key>CFBundleDisplayName</key><string>" + name + "</string>";
    return dict + extra + "</dict>";
}

inline QString metadataData(const QByteArray& bytes)
{
    return "<key>iTunesMetadata</key><data>" + QString::fromLatin1(bytes.toBase64()) + "</data>";
}

} // namespace DeviceTest
