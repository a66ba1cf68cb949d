#pragma once

#include "common/AppError.h"

/// The updater's own failures; anything else it meets (network, files, the unpacker) keeps its own error.
class UpdateError : public AppError {
public:
    enum class Kind { badManifest, checksumMismatch, notAnApp, cannotReplace, missingSignature, badSignature, unsignedBuild };

    /// `path` is the bundle that could not be replaced, for `cannotReplace` only.
    explicit UpdateError(Kind kind, QString path = {});

    Kind kind() const { return m_kind; }
    const QString& path() const { return m_path; }
    QString description() const override;

private:
    Kind m_kind;
    QString m_path;
};
