#pragma once

#include <QString>

/// What is happening to one app right now. A download knows only the bytes received so far.
struct AppActivity {
    enum class Kind { idle, fetchingVersions, downloading, installing, done, failed, queued };

    Kind kind = Kind::idle;
    qint64 bytes = 0;    // downloading
    double progress = 0; // installing, 0 to 1
    QString text;        // installing: the step; done: the result; failed: the error

    static AppActivity downloading(qint64 bytes) { return {Kind::downloading, bytes, 0, {}}; }
    static AppActivity installing(double progress, QString step)
    {
        return {Kind::installing, 0, progress, std::move(step)};
    }
    static AppActivity done(QString result) { return {Kind::done, 0, 0, std::move(result)}; }
    static AppActivity failed(QString error) { return {Kind::failed, 0, 0, std::move(error)}; }
    /// Waiting its turn in the archive queue.
    static AppActivity queued() { return {Kind::queued, 0, 0, {}}; }

    bool isFinal() const { return kind == Kind::done || kind == Kind::failed; }

    friend bool operator==(const AppActivity&, const AppActivity&) = default;
};
