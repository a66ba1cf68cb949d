#include "update/UpdateSignature.h"

#include "BuildConfig.h"

#include <QFile>

#include <sodium.h>

namespace UpdateSignature {
namespace {

void ready()
{
    // Safe to call again and from any thread; fails only when no random source can be had.
    if (sodium_init() < 0)
        qFatal("libsodium could not start");
}

std::optional<QByteArray> strictBase64(const QString& text, qsizetype size)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return std::nullopt;
    return decoded.decoded;
}

} // namespace

KeyPair generate()
{
    ready();
    KeyPair pair{QByteArray(crypto_sign_PUBLICKEYBYTES, '\0'), QByteArray(crypto_sign_SECRETKEYBYTES, '\0')};
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(pair.publicKey.data()),
                        reinterpret_cast<unsigned char*>(pair.secretKey.data()));
    return pair;
}

QString sign(const QByteArray& message, const QByteArray& secretKey)
{
    ready();
    if (secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return {};
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         static_cast<unsigned long long>(message.size()),
                         reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return QString::fromLatin1(signature.toBase64());
}

std::optional<QByteArray> publicKeyFrom(const QString& base64)
{
    return strictBase64(base64, crypto_sign_PUBLICKEYBYTES);
}

std::optional<QByteArray> buildKey()
{
    return publicKeyFrom(QString::fromLatin1(BuildConfig::updatePublicKey));
}

bool verifyFile(const QString& path, const QString& signatureBase64, const QByteArray& publicKey)
{
    ready();
    const auto signature = strictBase64(signatureBase64, crypto_sign_BYTES);
    QFile file(path);
    if (!signature || publicKey.size() != crypto_sign_PUBLICKEYBYTES || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray message = file.readAll();
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->constData()),
                                       reinterpret_cast<const unsigned char*>(message.constData()),
                                       static_cast<unsigned long long>(message.size()),
                                       reinterpret_cast<const unsigned char*>(publicKey.constData()))
           == 0;
}

} // namespace UpdateSignature
