// SPDX-License-Identifier: MIT
#include "updates/updatesignature_p.h"

#include <QFile>
#include <QIODevice>

#include <gcrypt.h>

namespace ravix {
namespace updatetrust {

namespace {

// The DER framing of an Ed25519 key around its 32 bytes (RFC 8410): fixed for this curve.
const QByteArray kSpkiPrefix = QByteArray::fromHex("302a300506032b6570032100");
const QByteArray kPkcs8Prefix = QByteArray::fromHex("302e020100300506032b657004220420");
const char kPublicLabel[] = "PUBLIC KEY";
const char kPrivateLabel[] = "PRIVATE KEY";

// Key s-expressions; the curve and flags make libgcrypt use pure Ed25519 (RFC 8032).
const char kPublicKeyExpr[] = "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))";
const char kSeedOnlyExpr[] = "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))";
const char kSecretKeyExpr[] = "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))";
const char kDataExpr[] = "(data (flags eddsa) (hash-algo sha512) (value %b))";
const char kSignatureExpr[] = "(sig-val (eddsa (r %b) (s %b)))";

struct Sexp
{
    gcry_sexp_t p = nullptr;
    Sexp() = default;
    Sexp(const Sexp &) = delete;
    Sexp &operator=(const Sexp &) = delete;
    ~Sexp() { gcry_sexp_release(p); }
};

QByteArray withoutSpace(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            out.append(c);
    }
    return out;
}

QByteArray strictBase64(const QByteArray &text)
{
    const QByteArray::FromBase64Result result =
        QByteArray::fromBase64Encoding(withoutSpace(text), QByteArray::AbortOnBase64DecodingErrors);
    return result ? result.decoded : QByteArray();
}

QByteArray pemBody(const QByteArray &pem, const char *label)
{
    const QByteArray begin = QByteArray("-----BEGIN ") + label + "-----";
    const QByteArray end = QByteArray("-----END ") + label + "-----";
    const int from = pem.indexOf(begin);
    const int to = from < 0 ? -1 : pem.indexOf(end, from);
    if (to < 0)
        return QByteArray();
    return strictBase64(pem.mid(from + begin.size(), to - from - begin.size()));
}

QByteArray pem(const QByteArray &der, const char *label)
{
    QByteArray out = QByteArray("-----BEGIN ") + label + "-----\n";
    const QByteArray body = der.toBase64();
    for (int i = 0; i < body.size(); i += 64)
        out += body.mid(i, 64) + '\n';
    return out + "-----END " + label + "-----\n";
}

QByteArray derPayload(const QByteArray &der, const QByteArray &prefix, int size)
{
    if (der.size() != prefix.size() + size || !der.startsWith(prefix))
        return QByteArray();
    return der.mid(prefix.size());
}

QByteArray tokenData(gcry_sexp_t list, const char *name)
{
    gcry_sexp_t token = gcry_sexp_find_token(list, name, 0);
    if (!token)
        return QByteArray();
    size_t length = 0;
    const char *data = gcry_sexp_nth_data(token, 1, &length);
    const QByteArray out = data ? QByteArray(data, int(length)) : QByteArray();
    gcry_sexp_release(token);
    return out;
}

} // namespace

bool initCrypto()
{
    // A static's initialiser runs once, and other threads wait for it.
    static const bool ready = [] {
        if (!gcry_check_version(GCRYPT_VERSION))
            return false;
        if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
        return true;
    }();
    return ready;
}

QByteArray parsePublicKey(const QByteArray &key)
{
    if (key.size() == kPublicKeySize)
        return key;
    if (key.contains("-----BEGIN"))
        return derPayload(pemBody(key, kPublicLabel), kSpkiPrefix, kPublicKeySize);
    const QByteArray raw = strictBase64(key);
    return raw.size() == kPublicKeySize ? raw : QByteArray();
}

QByteArray publicKeyPem(const QByteArray &publicKey)
{
    return pem(kSpkiPrefix + publicKey, kPublicLabel);
}

QByteArray parseSecretKey(const QByteArray &text)
{
    return derPayload(pemBody(text, kPrivateLabel), kPkcs8Prefix, kSeedSize);
}

QByteArray secretKeyPem(const QByteArray &seed)
{
    return pem(kPkcs8Prefix + seed, kPrivateLabel);
}

QByteArray parseSignature(const QByteArray &text)
{
    const QByteArray raw = strictBase64(text);
    return raw.size() == kSignatureSize ? raw : QByteArray();
}

QByteArray signatureText(const QByteArray &signature)
{
    return signature.toBase64() + '\n';
}

bool generateKey(QByteArray *seed, QByteArray *publicKey)
{
    if (!initCrypto())
        return false;
    QByteArray fresh(kSeedSize, Qt::Uninitialized);
    gcry_randomize(fresh.data(), size_t(fresh.size()), GCRY_VERY_STRONG_RANDOM);
    const QByteArray pub = publicKeyOfSeed(fresh);
    if (pub.isEmpty())
        return false;
    *seed = fresh;
    *publicKey = pub;
    return true;
}

QByteArray publicKeyOfSeed(const QByteArray &seed)
{
    Sexp key;
    if (seed.size() != kSeedSize || !initCrypto() ||
        gcry_sexp_build(&key.p, nullptr, kSeedOnlyExpr, kSeedSize, seed.constData()) != 0)
        return QByteArray();
    gcry_ctx_t ctx = nullptr;
    if (gcry_mpi_ec_new(&ctx, key.p, nullptr) != 0)
        return QByteArray();
    QByteArray out;
    // "q@eddsa" is the encoded point, computed from the seed when the key holds none.
    if (gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", ctx, 1)) {
        unsigned int bits = 0;
        const auto *data = static_cast<const char *>(gcry_mpi_get_opaque(q, &bits));
        if (data)
            out = QByteArray(data, int((bits + 7) / 8));
        gcry_mpi_release(q);
    }
    gcry_ctx_release(ctx);
    // libgcrypt may mark the compressed form with a 0x40 prefix.
    if (out.size() == kPublicKeySize + 1 && out.at(0) == 0x40)
        out.remove(0, 1);
    return out.size() == kPublicKeySize ? out : QByteArray();
}

QByteArray sign(const QByteArray &message, const QByteArray &seed)
{
    const QByteArray pub = publicKeyOfSeed(seed);
    Sexp key, data, result;
    if (pub.isEmpty() ||
        gcry_sexp_build(&key.p, nullptr, kSecretKeyExpr, kPublicKeySize, pub.constData(),
                        kSeedSize, seed.constData()) != 0 ||
        gcry_sexp_build(&data.p, nullptr, kDataExpr, message.size(), message.constData()) != 0 ||
        gcry_pk_sign(&result.p, data.p, key.p) != 0)
        return QByteArray();
    const QByteArray r = tokenData(result.p, "r");
    const QByteArray s = tokenData(result.p, "s");
    if (r.size() != kSignatureSize / 2 || s.size() != kSignatureSize / 2)
        return QByteArray();
    return r + s;
}

bool verify(const QByteArray &message, const QByteArray &signature, const QByteArray &publicKey)
{
    if (signature.size() != kSignatureSize || publicKey.size() != kPublicKeySize || !initCrypto())
        return false;
    const char *sig = signature.constData();
    Sexp key, data, value;
    return gcry_sexp_build(&key.p, nullptr, kPublicKeyExpr, kPublicKeySize,
                           publicKey.constData()) == 0 &&
           gcry_sexp_build(&value.p, nullptr, kSignatureExpr, kSignatureSize / 2, sig,
                           kSignatureSize / 2, sig + kSignatureSize / 2) == 0 &&
           gcry_sexp_build(&data.p, nullptr, kDataExpr, message.size(), message.constData()) ==
               0 &&
           gcry_pk_verify(value.p, data.p, key.p) == 0;
}

QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? sha256Of(file) : QByteArray();
}

QByteArray sha256Of(QIODevice &device)
{
    gcry_md_hd_t hash = nullptr;
    if (!initCrypto() || gcry_md_open(&hash, GCRY_MD_SHA256, 0) != 0)
        return QByteArray();
    QByteArray out;
    QByteArray chunk(16384, Qt::Uninitialized);
    qint64 n = 0;
    while ((n = device.read(chunk.data(), chunk.size())) > 0)
        gcry_md_write(hash, chunk.constData(), size_t(n));
    if (n == 0)
        out = QByteArray(reinterpret_cast<const char *>(gcry_md_read(hash, GCRY_MD_SHA256)),
                         kSha256Size);
    gcry_md_close(hash);
    return out;
}

} // namespace updatetrust
} // namespace ravix
