#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace DemoUpdateOffer {

/// The bundle at `bundle` one build later, zipped into `folder` and signed as the maker would
/// publish it, and its manifest (`offer`, also written to `offer.json`). The demo signs with a key
/// of its own, made at start and forgotten; only its public half is kept, for the relaunched copy
/// to check the same offer. Runs off the interface thread: zipping the bundle takes seconds.
std::optional<QString> build(const QString& bundle, const QString& folder, const QByteArray& secretKey,
                             QJsonObject& offer);

} // namespace DemoUpdateOffer
