// SPDX-License-Identifier: MIT
// Update trust: signed update documents, SHA-256 digests of packages and refused downgrades,
// with keys and signatures from our own tool and from openssl.
#include <ravixcore/updates/updateshelper.h>

#include "messagecapture.h"
#include "testtools.h"
#include "updates/updatesignature_p.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace ravix;
namespace trust = ravix::updatetrust;

namespace {

const QString kB1 = QStringLiteral("2021-01-01T00:00:00");
const QString kB2 = QStringLiteral("2021-02-01T00:00:00");
const QByteArray kContent = "package-content";

QString hashHex(const QByteArray &data, QCryptographicHash::Algorithm algorithm)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, algorithm).toHex());
}

QJsonObject package(const QString &build = kB1)
{
    return QJsonObject{{"fileUrl", "http://127.0.0.1/u/p.bin"},
                       {"sha1", hashHex(kContent, QCryptographicHash::Sha1)},
                       {"fileSize", kContent.size()},
                       {"build", build},
                       {"name", "p.bin"}};
}

QByteArray document(const QString &version, const QJsonObject &pkg = package())
{
    return QJsonDocument(
               QJsonObject{{"Q_OS_WIN32", QJsonArray{QJsonObject{
                                              {"version", version},
                                              {"packages", QJsonArray{pkg}}}}}})
        .toJson();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), qint64(data.size()));
}

QStringList filesBelow(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    return out;
}

} // namespace

class TestUpdateTrust : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString store() const { return m_tmp.path() + "/store"; }
    QString versions() const { return m_tmp.path() + "/versions"; }
    QString path(const QString &name) const { return m_tmp.path() + "/" + name; }
    void installed(const QString &ver, const QString &build)
    {
        writeFile(versions() + "/app.ver",
                  QJsonDocument(QJsonObject{{"app", QJsonObject{{"ver", ver}, {"build", build}}}})
                      .toJson());
    }
    QByteArray signatureOf(const QByteArray &data, const QByteArray &seed) const
    {
        return trust::signatureText(trust::sign(data, seed));
    }
    // Runs openssl; fails the test when it does not succeed.
    void openssl(const QStringList &args, QByteArray *out = nullptr)
    {
        RAVIX_REQUIRE_TOOL(tool, "openssl");
        QByteArray output;
        const int rc = ravixtest::runTool(tool, args, &output, m_tmp.path());
        if (out)
            *out = output;
        QVERIFY2(rc == 0, output.constData());
    }
    int signTool(const QStringList &args, QByteArray *out = nullptr)
    {
        return ravixtest::runTool(QStringLiteral(SIGN_TOOL), args, out, m_tmp.path());
    }

    // Keys are made after the first test, which must be the first use of libgcrypt.
    void ensureKeys()
    {
        if (!m_seed.isEmpty())
            return;
        QVERIFY(trust::generateKey(&m_seed, &m_public));
        QVERIFY(trust::generateKey(&m_otherSeed, &m_otherPublic));
        QVERIFY(m_seed != m_otherSeed);
    }

    QByteArray m_seed, m_public, m_otherSeed, m_otherPublic;

    // The second test vector of RFC 8032 (one byte, 0x72).
    const QByteArray m_vectorSeed =
        QByteArray::fromHex("4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb");
    const QByteArray m_vectorPublic =
        QByteArray::fromHex("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c");
    const QByteArray m_vectorSignature =
        QByteArray::fromHex("92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
                            "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00");

private slots:
    void initTestCase() { QVERIFY(m_tmp.isValid()); }
    void init()
    {
        if (qstrcmp(QTest::currentTestFunction(), "firstUseFromThreads") != 0)
            ensureKeys();
        QDir(store()).removeRecursively();
        QDir(versions()).removeRecursively();
    }

    // Threads that verify at the same moment all set libgcrypt up through the one guard.
    void firstUseFromThreads()
    {
        std::atomic<int> good{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([&] {
                while (!go)
                    std::this_thread::yield();
                if (trust::verify("\x72", m_vectorSignature, m_vectorPublic))
                    ++good;
            });
        }
        go = true;
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(good.load(), 4);
    }

    // The algorithm itself, on the test vector.
    void ed25519Vector()
    {
        const QByteArray &seed = m_vectorSeed;
        const QByteArray &pub = m_vectorPublic;
        const QByteArray &sig = m_vectorSignature;
        QCOMPARE(trust::publicKeyOfSeed(seed).toHex(), pub.toHex());
        QCOMPARE(trust::sign("\x72", seed).toHex(), sig.toHex());
        QVERIFY(trust::verify("\x72", sig, pub));
        QVERIFY(!trust::verify("\x73", sig, pub));
        QByteArray flipped = sig;
        flipped[40] = char(flipped.at(40) ^ 1);
        QVERIFY(!trust::verify("\x72", flipped, pub));
    }

    void signedDocuments_data()
    {
        ensureKeys();
        QTest::addColumn<QByteArray>("key");       // empty: setSigningKey is not called
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("signature"); // "-": the one-argument forms
        QTest::addColumn<bool>("keyAccepted");
        QTest::addColumn<QString>("refusal");      // empty: the document is taken

        const QByteArray doc = document("2.0.0");
        const QByteArray good = signatureOf(doc, m_seed);
        const QString noSignature = "The update document is refused: it has no signature";
        const QString malformed = "The update document is refused: its signature is not "
                                  "one line of base64 holding 64 bytes";
        const QString mismatch =
            "The update document is refused: its signature does not match the update key";
        const QString noKey = "The update document is refused: no usable update key is set";

        QTest::newRow("no key, unsigned") << QByteArray() << doc << QByteArray("-") << true
                                          << QString();
        QTest::newRow("no key, signature not looked at")
            << QByteArray() << doc << QByteArray("junk") << true << QString();
        QTest::newRow("good signature") << m_public << doc << good << true << QString();
        QTest::newRow("good signature, CRLF and spaces")
            << m_public << doc << QByteArray("  " + good.trimmed() + "\r\n\r\n") << true
            << QString();
        QTest::newRow("PEM public key") << trust::publicKeyPem(m_public) << doc << good << true
                                        << QString();
        QTest::newRow("base64 public key")
            << QByteArray(m_public.toBase64() + '\n') << doc << good << true << QString();
        QTest::newRow("key set, one-argument form")
            << m_public << doc << QByteArray("-") << true << noSignature;
        QTest::newRow("key set, empty signature")
            << m_public << doc << QByteArray() << true << noSignature;
        QTest::newRow("document changed after signing")
            << m_public << QByteArray(doc).replace("2.0.0", "2.0.1") << good << true << mismatch;
        QTest::newRow("signature of another document")
            << m_public << doc << signatureOf(document("2.0.1"), m_seed) << true << mismatch;
        QTest::newRow("signed by another key")
            << m_public << doc << signatureOf(doc, m_otherSeed) << true << mismatch;
        QTest::newRow("zero signature")
            << m_public << doc << QByteArray(64, '\0').toBase64() << true << mismatch;
        QTest::newRow("raw 64 bytes, not base64")
            << m_public << doc << trust::sign(doc, m_seed) << true << malformed;
        QTest::newRow("63 bytes") << m_public << doc
                                  << trust::sign(doc, m_seed).left(63).toBase64() << true
                                  << malformed;
        QTest::newRow("not base64") << m_public << doc << QByteArray(88, '#') << true
                                    << malformed;
        QTest::newRow("key of 31 bytes") << m_public.left(31) << doc << good << false << noKey;
        QTest::newRow("secret key given as public key")
            << trust::secretKeyPem(m_seed) << doc << good << false << noKey;
        QTest::newRow("empty key file") << QByteArray("\n") << doc << good << false << noKey;
    }
    void signedDocuments()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, signature);
        QFETCH(bool, keyAccepted);
        QFETCH(QString, refusal);

        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        // An earlier parse whose result must survive a refusal.
        QVERIFY(helper.parseUpdateInfo(document("1.5.0")));
        QVERIFY(!helper.signingRequired());
        if (!key.isEmpty()) {
            QCOMPARE(helper.setSigningKey(key), keyAccepted);
            QVERIFY(helper.signingRequired());
        }
        const bool taken = refusal.isEmpty();
        ravixtest::MessageCapture capture;
        const bool oneArgument = signature == "-";
        QCOMPARE(oneArgument ? helper.parseUpdateInfo(data) : helper.parseUpdateInfo(data, signature),
                 taken);
        QCOMPARE(oneArgument ? helper.saveUpdateInfo(data) : helper.saveUpdateInfo(data, signature),
                 taken);
        const QStringList warnings = capture.messages(QtWarningMsg);
        if (taken) {
            QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
            QCOMPARE(helper.infos().first().version(), QStringLiteral("2.0.0"));
            QVERIFY(QFileInfo::exists(store() + "/2.0.0/info.json"));
        } else {
            // One line per refused document, and nothing parsed or stored.
            QCOMPARE(warnings, QStringList({refusal, refusal}));
            QCOMPARE(helper.infos().size(), 1);
            QCOMPARE(helper.infos().first().version(), QStringLiteral("1.5.0"));
            QCOMPARE(filesBelow(m_tmp.path() + "/store"), QStringList());
        }
    }

    void signingKeyCanBeCleared()
    {
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        QVERIFY(!helper.setSigningKey("not a key"));
        QVERIFY(!helper.saveUpdateInfo(document("2.0.0"), signatureOf(document("2.0.0"), m_seed)));
        // A good key after a broken one is used.
        QVERIFY(helper.setSigningKey(m_public));
        QVERIFY(helper.saveUpdateInfo(document("2.0.0"), signatureOf(document("2.0.0"), m_seed)));
        helper.clearSigningKey();
        QVERIFY(!helper.signingRequired());
        QVERIFY(helper.saveUpdateInfo(document("2.0.1")));
    }

    void sha256Digests_data()
    {
        QTest::addColumn<QString>("sha256"); // "-": no key in the document
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("needed"); // with the right file on disk
        const QString right = hashHex(kContent, QCryptographicHash::Sha256);
        QTest::newRow("absent") << "-" << true << false;
        QTest::newRow("right") << right << true << false;
        QTest::newRow("right, upper case") << right.toUpper() << true << false;
        QTest::newRow("wrong") << hashHex("other", QCryptographicHash::Sha256) << true << true;
        QTest::newRow("truncated") << right.left(62) << false << false;
        QTest::newRow("a SHA-1 in its place")
            << hashHex(kContent, QCryptographicHash::Sha1) << false << false;
    }
    void sha256Digests()
    {
        QFETCH(QString, sha256);
        QFETCH(bool, valid);
        QFETCH(bool, needed);
        installed("1.0.0", kB1);
        QJsonObject obj = package();
        if (sha256 != "-")
            obj.insert("sha256", sha256);
        const UpdatePkgConfig cfg(store());
        const UpdateInfo info(QJsonObject{{"version", "1.1.0"}, {"packages", QJsonArray{obj}}},
                              cfg);
        QCOMPARE(info.isValid(), valid);
        if (!valid)
            return;
        const UpdatePackageInfo pkg = info.packages().first();
        QCOMPARE(QString::fromLatin1(pkg.sha256().toHex()),
                 sha256 == "-" ? QString() : sha256.toLower());
        // The stored form keeps the digest, and has no key for it when there is none.
        QCOMPARE(pkg.toObject().contains("sha256"), sha256 != "-");
        UpdatesHelper helper(cfg, versions(), "app");
        QVERIFY(helper.saveUpdateInfo(info));
        UpdateInfo loaded;
        QVERIFY(helper.loadUpdateInfo("1.1.0", loaded));
        QCOMPARE(loaded.packages().first().sha256(), pkg.sha256());

        QVERIFY(helper.needUpdate(pkg)); // not on disk yet
        writeFile(pkg.fileName(), kContent);
        QCOMPARE(helper.needUpdate(pkg), needed);
        QCOMPARE(helper.updatesAreLoaded("1.1.0"), !needed);
    }

    void sha256OfFile()
    {
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        const QByteArray big(100000, 'z');
        writeFile(path("big"), big);
        QCOMPARE(helper.calcSha256(path("big")),
                 QCryptographicHash::hash(big, QCryptographicHash::Sha256));
        writeFile(path("empty"), QByteArray());
        QCOMPARE(helper.calcSha256(path("empty")),
                 QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha256));
        QVERIFY(helper.calcSha256(path("none")).isEmpty());
    }

    void downgrades_data()
    {
        QTest::addColumn<bool>("signedDocs");
        QTest::addColumn<int>("allowed"); // -1: setDowngradesAllowed is not called
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("build");
        QTest::addColumn<bool>("taken");
        // Installed: 2.0.0 built kB2.
        QTest::newRow("unsigned, older taken as before") << false << -1 << "1.9.0" << kB1 << true;
        QTest::newRow("unsigned, older refused on request") << false << 0 << "1.9.0" << kB1
                                                             << false;
        QTest::newRow("signed, older refused") << true << -1 << "1.9.0" << kB1 << false;
        QTest::newRow("signed, earlier build refused") << true << -1 << "2.0.0" << kB1 << false;
        QTest::newRow("signed, older allowed") << true << 1 << "1.9.0" << kB1 << true;
        QTest::newRow("signed, newer") << true << -1 << "2.1.0" << kB1 << true;
        QTest::newRow("signed, same") << true << -1 << "2.0.0" << kB2 << true;
    }
    void downgrades()
    {
        QFETCH(bool, signedDocs);
        QFETCH(int, allowed);
        QFETCH(QString, offered);
        QFETCH(QString, build);
        QFETCH(bool, taken);
        installed("2.0.0", kB2);
        const UpdatePkgConfig cfg(store());
        UpdatesHelper helper(cfg, versions(), "app");
        const QByteArray doc = document(offered, package(build));
        QByteArray signature;
        if (signedDocs) {
            QVERIFY(helper.setSigningKey(m_public));
            signature = signatureOf(doc, m_seed);
        }
        QCOMPARE(helper.downgradesAllowed(), !signedDocs);
        if (allowed != -1)
            helper.setDowngradesAllowed(allowed == 1);
        QCOMPARE(helper.downgradesAllowed(), allowed == -1 ? !signedDocs : allowed == 1);

        ravixtest::MessageCapture capture;
        QCOMPARE(helper.saveUpdateInfo(doc, signature), taken);
        if (taken)
            return;
        QVERIFY2(capture.contains(QtWarningMsg,
                                  QStringLiteral("Update %1 is refused: it is older than the "
                                                 "installed version 2.0.0")
                                      .arg(offered)),
                 qPrintable(capture.messages(QtWarningMsg).join('\n')));
        QCOMPARE(filesBelow(m_tmp.path() + "/store"), QStringList());

        // A description stored while the older version was still new is not acted on now.
        const UpdateInfo old(QJsonObject{{"version", offered}, {"packages", QJsonArray{package(build)}}},
                             cfg);
        QVERIFY(helper.saveUpdateInfo(old));
        const UpdatePackageInfo pkg = old.packages().first();
        QVERIFY(!helper.needUpdate(pkg));
        QList<UpdatePackageInfo> missing;
        QVERIFY(helper.getDownloadedsList(old, missing, 0));
        QVERIFY(missing.isEmpty());
        writeFile(pkg.fileName(), kContent);
        QVERIFY(!helper.updatesAreLoaded(offered));
        helper.setDowngradesAllowed(true);
        QVERIFY(helper.updatesAreLoaded(offered));
    }

    // Keys and signatures of openssl work with ours, both ways.
    void opensslInterop()
    {
        const QByteArray doc = document("3.0.0");
        writeFile(path("doc.json"), doc);
        openssl({"genpkey", "-algorithm", "ed25519", "-out", "ossl.key"});
        openssl({"pkey", "-in", "ossl.key", "-pubout", "-out", "ossl.pub"});
        openssl({"pkeyutl", "-sign", "-rawin", "-inkey", "ossl.key", "-in", "doc.json", "-out",
                 "doc.raw"});
        const QByteArray signature = readFile(path("doc.raw")).toBase64() + '\n';

        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        QVERIFY(helper.setSigningKey(readFile(path("ossl.pub"))));
        QVERIFY(!helper.saveUpdateInfo(doc + ' ', signature));
        QVERIFY(helper.saveUpdateInfo(doc, signature));

        // Our secret-key form is the one openssl reads, and yields the same public key.
        QCOMPARE(trust::publicKeyPem(trust::publicKeyOfSeed(
                     trust::parseSecretKey(readFile(path("ossl.key"))))),
                 readFile(path("ossl.pub")));
        writeFile(path("ours.key"), trust::secretKeyPem(m_seed));
        QByteArray out;
        openssl({"pkey", "-in", "ours.key", "-pubout"}, &out);
        QCOMPARE(out, trust::publicKeyPem(m_public));
        // openssl accepts our signatures.
        writeFile(path("ours.pub"), trust::publicKeyPem(m_public));
        writeFile(path("ours.raw"), trust::sign(doc, m_seed));
        openssl({"pkeyutl", "-verify", "-rawin", "-pubin", "-inkey", "ours.pub", "-in",
                 "doc.json", "-sigfile", "ours.raw"});
    }

    // The publisher's tool: its keys and signatures are taken by the helper and by openssl.
    void signingTool()
    {
        const QByteArray doc = document("3.1.0");
        writeFile(path("tool-doc.json"), doc);
        QByteArray out;
        QCOMPARE(signTool({"keygen", "tool.key", "tool.pub"}, &out), 0);
#ifndef Q_OS_WIN
        // Windows has no mode bits: who reads the key is the business of its folder's access list.
        QCOMPARE(ravixtest::modeBits(path("tool.key")), 0600);
#endif
        const QByteArray secret = readFile(path("tool.key"));
        // An existing key is never replaced.
        QCOMPARE(signTool({"keygen", "tool.key", "tool2.pub"}, &out), 1);
        QCOMPARE(readFile(path("tool.key")), secret);
        QVERIFY(!QFileInfo::exists(path("tool2.pub")));

        QCOMPARE(signTool({"sign", "tool.key", "tool-doc.json"}, &out), 0);
        const QByteArray signature = readFile(path("tool-doc.json.sig"));
        QCOMPARE(signature.count('\n'), 1);
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        QVERIFY(helper.setSigningKey(readFile(path("tool.pub"))));
        QVERIFY(helper.saveUpdateInfo(doc, signature));

        QCOMPARE(signTool({"verify", "tool.pub", "tool-doc.json"}, &out), 0);
        writeFile(path("tool-doc.json"), doc + ' ');
        QCOMPARE(signTool({"verify", "tool.pub", "tool-doc.json"}, &out), 1);
        QVERIFY(out.contains("BAD signature"));
        writeFile(path("tool-doc.json"), doc);

        writeFile(path("tool.raw"), trust::parseSignature(signature));
        openssl({"pkeyutl", "-verify", "-rawin", "-pubin", "-inkey", "tool.pub", "-in",
                 "tool-doc.json", "-sigfile", "tool.raw"});
        // The tool signs with an openssl key too, into a named signature file.
        openssl({"genpkey", "-algorithm", "ed25519", "-out", "ossl2.key"});
        openssl({"pkey", "-in", "ossl2.key", "-pubout", "-out", "ossl2.pub"});
        QCOMPARE(signTool({"sign", "ossl2.key", "tool-doc.json", "other.sig"}, &out), 0);
        QCOMPARE(signTool({"verify", "ossl2.pub", "tool-doc.json", "other.sig"}, &out), 0);
        QVERIFY(helper.setSigningKey(readFile(path("ossl2.pub"))));
        QVERIFY(helper.saveUpdateInfo(doc, readFile(path("other.sig"))));

        QCOMPARE(signTool({"sign", "tool.pub", "tool-doc.json"}, &out), 1); // not a secret key
        QCOMPARE(signTool({"sign"}, &out), 2);
    }
};

QTEST_GUILESS_MAIN(TestUpdateTrust)
#include "tst_updatetrust.moc"
