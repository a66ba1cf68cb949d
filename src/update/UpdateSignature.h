#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

/// Ed25519 detached signatures over an update archive's bytes. The manifest names the archive and
/// its checksum, so only a signature made with the maker's secret key proves where the code is from.
namespace UpdateSignature {

struct KeyPair {
    QByteArray publicKey; // 32 bytes
    QByteArray secretKey; // 64 bytes
};

KeyPair generate();
/// The base64 of the 64-byte detached signature.
QString sign(const QByteArray& message, const QByteArray& secretKey);
/// A 32-byte key from its base64; nothing for anything else.
std::optional<QByteArray> publicKeyFrom(const QString& base64);
/// The build's own key, if it was built with one.
std::optional<QByteArray> buildKey();
/// Whether `signatureBase64` is a valid signature of the file's bytes made with the key's secret
/// half. Any thread.
bool verifyFile(const QString& path, const QString& signatureBase64, const QByteArray& publicKey);

} // namespace UpdateSignature
