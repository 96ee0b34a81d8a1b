// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QByteArray>
#include <QString>

QT_BEGIN_NAMESPACE
class QIODevice;
QT_END_NAMESPACE

// Ed25519 signatures of update documents and SHA-256 digests of packages, through libgcrypt.
// Key and signature files are the forms the openssl tool reads and writes, so a publisher may
// use either it or ravix-sign-update:
//   public key  - PEM "PUBLIC KEY" (SubjectPublicKeyInfo), or base64 of the 32 raw bytes;
//   secret key  - PEM "PRIVATE KEY" (PKCS #8) holding the 32-byte seed;
//   signature   - base64 of the 64 raw bytes, one line; white space around it is ignored.
namespace ravix {
namespace updatetrust {

constexpr int kPublicKeySize = 32;
constexpr int kSeedSize = 32;
constexpr int kSignatureSize = 64;
constexpr int kSha256Size = 32;

// Sets libgcrypt up once per process (version check, no secure memory: the library holds no
// long-lived secrets); later calls only report the result. Leaves a set-up made by the host
// alone.
RAVIXCORE_EXPORT bool initCrypto();

// The 32 raw bytes of a public key given raw, as PEM or as base64; empty when it is none.
RAVIXCORE_EXPORT QByteArray parsePublicKey(const QByteArray &key);
RAVIXCORE_EXPORT QByteArray publicKeyPem(const QByteArray &publicKey);
// The 32-byte seed of a PEM secret key; empty when it is none.
RAVIXCORE_EXPORT QByteArray parseSecretKey(const QByteArray &pem);
RAVIXCORE_EXPORT QByteArray secretKeyPem(const QByteArray &seed);
// The 64 raw bytes of a signature file; empty when it is none.
RAVIXCORE_EXPORT QByteArray parseSignature(const QByteArray &text);
RAVIXCORE_EXPORT QByteArray signatureText(const QByteArray &signature);

// A new random seed and its public key; false when libgcrypt fails.
RAVIXCORE_EXPORT bool generateKey(QByteArray *seed, QByteArray *publicKey);
// The public key of a seed; empty on failure.
RAVIXCORE_EXPORT QByteArray publicKeyOfSeed(const QByteArray &seed);
// The 64-byte signature of message; empty on failure.
RAVIXCORE_EXPORT QByteArray sign(const QByteArray &message, const QByteArray &seed);
// True only for a good signature of message by publicKey (raw forms).
RAVIXCORE_EXPORT bool verify(const QByteArray &message, const QByteArray &signature,
                             const QByteArray &publicKey);

// Raw SHA-256 of a file, or of what is left to read from an open device; empty when it cannot
// be read.
RAVIXCORE_EXPORT QByteArray fileSha256(const QString &path);
RAVIXCORE_EXPORT QByteArray sha256Of(QIODevice &device);

} // namespace updatetrust
} // namespace ravix
