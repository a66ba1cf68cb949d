// Signs update archives for the manifest:
//   quorrel-update-signer keygen SECRET-FILE       writes a new secret key, prints the public key
//   quorrel-update-signer sign SECRET-FILE ARCHIVE prints the manifest's "signature" line
// The public key goes into the build as QUORREL_UPDATE_PUBLIC_KEY; the secret never leaves the
// release machine.
#include "update/UpdateSignature.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace {

int fail(const QString& text)
{
    std::fprintf(stderr, "quorrel-update-signer: %s\n", qPrintable(text));
    return 1;
}

int keygen(const QString& secretFile)
{
    if (QFile::exists(secretFile))
        return fail(QStringLiteral("%1 exists; refusing to overwrite a key").arg(secretFile));
    const UpdateSignature::KeyPair key = UpdateSignature::generate();
    QSaveFile file(secretFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(key.secretKey.toBase64()) < 0
        || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) || !file.commit())
        return fail(QStringLiteral("cannot write %1").arg(secretFile));
    std::printf("%s\n", key.publicKey.toBase64().constData());
    return 0;
}

int sign(const QString& secretFile, const QString& archiveFile)
{
    QFile secret(secretFile);
    QFile archive(archiveFile);
    if (!secret.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(secretFile));
    if (!archive.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(archiveFile));
    const QString signature =
        UpdateSignature::sign(archive.readAll(), QByteArray::fromBase64(secret.readAll().trimmed()));
    if (signature.isEmpty())
        return fail(QStringLiteral("%1 holds no secret key").arg(secretFile));
    std::printf("\"signature\": \"%s\"\n", qPrintable(signature));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() == 2 && arguments[0] == QLatin1String("keygen"))
        return keygen(arguments[1]);
    if (arguments.size() == 3 && arguments[0] == QLatin1String("sign"))
        return sign(arguments[1], arguments[2]);
    return fail(QStringLiteral("usage: keygen SECRET-FILE | sign SECRET-FILE ARCHIVE"));
}
