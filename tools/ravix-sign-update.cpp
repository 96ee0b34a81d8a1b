// SPDX-License-Identifier: MIT
// ravix-sign-update: makes the Ed25519 key pair of an update publisher and signs update
// documents with it; hosts check the signatures with UpdatesHelper::setSigningKey.
//
//   ravix-sign-update keygen SECRET_KEY PUBLIC_KEY
//   ravix-sign-update sign SECRET_KEY DOCUMENT [SIGNATURE]     (default DOCUMENT.sig)
//   ravix-sign-update verify PUBLIC_KEY DOCUMENT [SIGNATURE]
//
// Keys are PEM files as openssl writes them; a signature is one line of base64. Files that
// exist are never overwritten by keygen, and the secret key is readable by its owner only.
// Exit codes: 0 done (verify: good signature), 1 failure (verify: bad signature), 2 usage.
#include "updates/updatesignature_p.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

namespace {

using namespace ravix::updatetrust;

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

bool readFile(const QString &path, QByteArray *data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err() << "cannot read " << path << ": " << file.errorString() << Qt::endl;
        return false;
    }
    *data = file.readAll();
    return true;
}

// Creates a new file: an existing one (a key, above all) is never replaced.
bool writeNewFile(const QString &path, const QByteArray &data, QFileDevice::Permissions mode)
{
    QFile file(path);
    // The mode is set before any byte is written, so the secret is never readable by others.
    const bool ok = file.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                    file.setPermissions(mode) && file.write(data) == data.size() &&
                    file.flush();
    if (!ok)
        err() << "cannot create " << path << ": " << file.errorString() << Qt::endl;
    return ok;
}

bool replaceFile(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(data) == data.size() &&
                    file.flush() && file.commit();
    if (!ok)
        err() << "cannot write " << path << ": " << file.errorString() << Qt::endl;
    return ok;
}

int keygen(const QString &secretPath, const QString &publicPath)
{
    QByteArray seed, publicKey;
    if (!generateKey(&seed, &publicKey)) {
        err() << "key generation failed" << Qt::endl;
        return 1;
    }
    if (!writeNewFile(secretPath, secretKeyPem(seed), QFile::ReadOwner | QFile::WriteOwner))
        return 1;
    if (!writeNewFile(publicPath, publicKeyPem(publicKey),
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther))
        return 1;
    return 0;
}

int signDocument(const QString &secretPath, const QString &document, const QString &signaturePath)
{
    QByteArray keyText, data;
    if (!readFile(secretPath, &keyText) || !readFile(document, &data))
        return 1;
    const QByteArray seed = parseSecretKey(keyText);
    if (seed.isEmpty()) {
        err() << secretPath << " is not an Ed25519 secret key in PEM form" << Qt::endl;
        return 1;
    }
    const QByteArray signature = sign(data, seed);
    if (signature.isEmpty()) {
        err() << "signing failed" << Qt::endl;
        return 1;
    }
    return replaceFile(signaturePath, signatureText(signature)) ? 0 : 1;
}

int verifyDocument(const QString &publicPath, const QString &document,
                   const QString &signaturePath)
{
    QByteArray keyText, data, signatureFile;
    if (!readFile(publicPath, &keyText) || !readFile(document, &data) ||
        !readFile(signaturePath, &signatureFile))
        return 1;
    const QByteArray publicKey = parsePublicKey(keyText);
    if (publicKey.isEmpty()) {
        err() << publicPath << " is not an Ed25519 public key" << Qt::endl;
        return 1;
    }
    const bool good = verify(data, parseSignature(signatureFile), publicKey);
    QTextStream(stdout) << document << (good ? ": good signature" : ": BAD signature")
                        << Qt::endl;
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("keygen") && args.size() == 3)
        return keygen(args.at(1), args.at(2));
    if ((command == QLatin1String("sign") || command == QLatin1String("verify")) &&
        (args.size() == 3 || args.size() == 4)) {
        const QString signature = args.value(3, args.at(2) + QStringLiteral(".sig"));
        return command == QLatin1String("sign") ? signDocument(args.at(1), args.at(2), signature)
                                                : verifyDocument(args.at(1), args.at(2), signature);
    }
    err() << "usage: ravix-sign-update keygen SECRET_KEY PUBLIC_KEY\n"
             "       ravix-sign-update sign SECRET_KEY DOCUMENT [SIGNATURE]\n"
             "       ravix-sign-update verify PUBLIC_KEY DOCUMENT [SIGNATURE]\n"
             "(SIGNATURE defaults to DOCUMENT.sig)"
          << Qt::endl;
    return 2;
}
