#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <optional>

/// What a saved .ipa says about itself: its Info.plist, its iTunesMetadata.plist and its icon.
/// Whatever cannot be read is absent; a file that is no zip at all gives an empty record.
struct IpaInfo {
    std::optional<QString> bundleID;
    std::optional<QString> shortVersion;
    std::optional<QString> build;
    std::optional<QString> minimumOS;
    std::optional<QString> displayName;
    std::optional<qint64> appID;
    QImage icon; // null when the archive has none that decodes

    friend bool operator==(const IpaInfo&, const IpaInfo&) = default;
};

/// Reads .ipa archives with libarchive, only into memory: nothing is ever extracted to disk, so
/// odd entry names cannot write anywhere. Keeps what it read per file while the file's size and
/// modification time stay the same, and reads new files off the interface thread.
class IpaInspector : public QObject {
    Q_OBJECT
public:
    /// Larger property lists or icons are not read at all.
    static constexpr qint64 plistLimit = 4 * 1024 * 1024;
    static constexpr qint64 iconLimit = 8 * 1024 * 1024;

    using QObject::QObject;

    /// Blocks while it reads; never throws.
    static IpaInfo inspect(const QString& path);
    /// A PNG, in Apple's CgBI form or the usual one; null when it is neither.
    static QImage decodeIcon(const QByteArray& png);
    /// Numeric comparison of dotted versions: "9.3" < "16.4" < "16.10"; missing parts count as 0.
    static int compareVersions(const QString& a, const QString& b);

    /// What was last read from `path`, without looking at the disk.
    std::optional<IpaInfo> info(const QString& path) const;
    /// The icon of the last read file that has `bundleID`; null when none has one.
    QImage icon(const QString& bundleID) const;
    /// Queues the files not read yet, or changed since, for reading off the interface thread.
    void request(const QStringList& paths);
    /// The file's info, read now (off the interface thread) unless known and unchanged.
    QCoro::Task<IpaInfo> read(QString path);
    bool isReading() const { return m_reading; }

Q_SIGNALS:
    /// New info arrived for some files.
    void changed();

private:
    struct Stamp {
        qint64 size = -1;
        QDateTime modified;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    struct Known {
        Stamp stamp;
        IpaInfo info;
    };
    struct Pending {
        QString path;
        Stamp stamp;
    };

    static Stamp stampOf(const QString& path);
    static QList<IpaInfo> inspectAll(const QStringList& paths);
    void store(const QString& path, const Stamp& stamp, IpaInfo info);
    static QCoro::Task<> readPending(QPointer<IpaInspector> self);

    QHash<QString, Known> m_known;
    QHash<QString, QString> m_iconPaths; // bundle id → the file whose icon stands for it
    QList<Pending> m_pending;
    QHash<QString, Stamp> m_queued;
    bool m_reading = false;
};
