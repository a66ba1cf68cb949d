#pragma once

#include <QString>

#include <optional>

/// What is happening to one app right now. A download knows the bytes received so far and, when
/// the store said how big the app is, the whole size.
struct AppActivity {
    enum class Kind { idle, fetchingVersions, downloading, installing, done, failed, queued };

    Kind kind = Kind::idle;
    qint64 bytes = 0;    // downloading
    double progress = 0; // installing, 0 to 1
    QString text;        // installing: the step; done: the result; failed: the error
    qint64 total = 0;    // downloading: the whole size, 0 when not known

    static AppActivity downloading(qint64 bytes, qint64 total = 0) { return {Kind::downloading, bytes, 0, {}, total}; }
    static AppActivity installing(double progress, QString step)
    {
        return {Kind::installing, 0, progress, std::move(step), 0};
    }
    static AppActivity done(QString result) { return {Kind::done, 0, 0, std::move(result), 0}; }
    static AppActivity failed(QString error) { return {Kind::failed, 0, 0, std::move(error), 0}; }
    /// Waiting its turn in the archive queue.
    static AppActivity queued() { return {Kind::queued, 0, 0, {}, 0}; }

    /// The share received, when the whole size is known and the bytes have not outgrown it.
    std::optional<double> fraction() const
    {
        if (kind != Kind::downloading || total <= 0 || bytes > total)
            return std::nullopt;
        return double(bytes) / double(total);
    }

    bool isFinal() const { return kind == Kind::done || kind == Kind::failed; }

    friend bool operator==(const AppActivity&, const AppActivity&) = default;
};
