#pragma once

#include "device/Device.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <QCoroTask>

/// Finds phones on cable and Wi-Fi through libimobiledevice's idevice_id and ideviceinfo.
/// Holds no state; the same set of phones always comes back in the same order.
class MuxDiscovery {
public:
    static bool isAvailable();

    /// Empty when idevice_id is missing; throws ToolError when it cannot be started.
    QCoro::Task<QList<Device>> devices();

    /// UDIDs of one idevice_id answer, in output order; blank lines dropped.
    static QStringList parseUdids(const QString& output);

private:
    static QCoro::Task<QStringList> udids(QString tool, QString flag);
    static QCoro::Task<QHash<QString, QString>> info(QString udid);
};
