#pragma once

// What nearly every test reads, in one place: Google Test with printers for Qt values, a
// throw-away home, waiting on tasks, and the Qt value and file types the tests build with.
#include "common/AppError.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/TempHome.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

/// The description of the error `action` throws, or "(no failure)".
inline QString failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const AppError& error) {
        return error.description();
    }
    return "(no failure)";
}
