// SPDX-License-Identifier: MIT
// What the registry wrapper writes must be what the framework's native settings read, and the
// other way round. On Windows both sides work on the real registry (under Wine in CI); elsewhere
// the wrapper writes into the emulated registry and the stored types and names are checked
// against the same table, which the Windows run pins to what the framework itself stores.
#include "emulation.h"

#include "sys/settingsencoding_p.h"
#include <ravixcore/sys/specwinregwrapper.h>

#include <QtTest>

#include <QDate>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QSize>

using namespace ravix::oslayer;
using ravix::swrw::SpecWinRegWrapper;
using namespace ravixtest;

Q_DECLARE_METATYPE(ravix::oslayer::Bytes)

namespace {

const QString KEY = QStringLiteral("Software\\ravixtest-interop");
const QString PATH = QStringLiteral("HKEY_CURRENT_USER\\") + KEY;

QString zeroIn(const char *a, const char *b)
{
    return QString::fromLatin1(a) + QChar(0) + QString::fromLatin1(b);
}

} // namespace

class TestRegistryInterop : public QObject
{
    Q_OBJECT

    OsLayer *m_os = nullptr;

    RawValue raw(const QString &subKey, const QString &name)
    {
        return rawValue(*m_os, REG_ROOT_CURRENT_USER, subKey.isEmpty() ? KEY : KEY + '\\' + subKey,
                        name, REG_KEY_WOW64_64KEY);
    }

private slots:
    void initTestCase()
    {
#ifdef Q_OS_WIN
        m_os = &OsLayer::current();
        QCOMPARE(QString::fromLatin1(m_os->name()), QStringLiteral("win32"));
#else
        m_os = emulatedWindows();
        QVERIFY(m_os);
#endif
    }

    void cleanup() { SpecWinRegWrapper(PATH).clear(); }

    void valueKinds_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("readBack");
        // The framework's and the wrapper's stored type; they differ only where noted.
        QTest::addColumn<quint32>("qtType");
        QTest::addColumn<quint32>("wrapperType");

        auto row = [](const char *name, const QVariant &value, const QVariant &readBack,
                      std::uint32_t type) {
            QTest::newRow(name) << value << readBack << quint32(type) << quint32(type);
        };
        row("int", -2, -2, REG_TYPE_DWORD);
        row("uint", 0x80000001u, int(0x80000001u), REG_TYPE_DWORD);
        row("qlonglong", qlonglong(0x0102030405060708LL), qlonglong(0x0102030405060708LL),
            REG_TYPE_QWORD);
        row("qulonglong", qulonglong(~0ULL), qlonglong(-1), REG_TYPE_QWORD);
        row("string", QStringLiteral("C:\\Program Files\\x.exe"),
            QStringLiteral("C:\\Program Files\\x.exe"), REG_TYPE_SZ);
        row("empty string", QString(""), QString(""), REG_TYPE_SZ);
        row("leading at", QStringLiteral("@x"), QStringLiteral("@x"), REG_TYPE_SZ);
        row("string with zero", zeroIn("a", "b"), zeroIn("a", "b"), REG_TYPE_BINARY);
        row("bytes", QByteArray("ab"), QByteArray("ab"), REG_TYPE_SZ);
        row("bytes with zero", QByteArray("a\0b", 3), QByteArray("a\0b", 3), REG_TYPE_BINARY);
        row("rect", QRect(1, 2, 3, 4), QRect(1, 2, 3, 4), REG_TYPE_SZ);
        row("size", QSize(5, 6), QSize(5, 6), REG_TYPE_SZ);
        row("point", QPoint(-1, 9), QPoint(-1, 9), REG_TYPE_SZ);
        row("bool", true, QStringLiteral("true"), REG_TYPE_SZ);
        row("double", 2.5, QStringLiteral("2.5"), REG_TYPE_SZ);
        row("date", QDate(2024, 1, 2), QDate(2024, 1, 2), REG_TYPE_BINARY);
        const QStringList list{QStringLiteral("C:\\pagefile.sys 0 0"), QStringLiteral("@x")};
        row("string list", list, list, REG_TYPE_MULTI_SZ);
        const QVariantList mixed{QStringLiteral("a"), QSize(1, 2)};
        row("variant list", mixed, mixed, REG_TYPE_MULTI_SZ);
        row("list with empty element",
            QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")},
            QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}, REG_TYPE_BINARY);
        row("list with zero inside an element",
            QStringList{QStringLiteral("a"), zeroIn("b", "c"), QStringLiteral("d")},
            QStringList{QStringLiteral("a"), zeroIn("b", "c"), QStringLiteral("d")},
            REG_TYPE_BINARY);
        // The framework stores an empty multi-string; the wrapper keeps the encoding whole.
        QTest::newRow("empty list") << QVariant(QStringList()) << QVariant(QStringList())
                                    << quint32(REG_TYPE_MULTI_SZ) << quint32(REG_TYPE_BINARY);
    }

    void valueKinds()
    {
        QFETCH(QVariant, value);
        QFETCH(QVariant, readBack);
        QFETCH(quint32, qtType);
        QFETCH(quint32, wrapperType);

        SpecWinRegWrapper(PATH).set(QStringLiteral("w"), value);
        QCOMPARE(raw(QString(), QStringLiteral("w")).type, wrapperType);
        QVariant back;
        QVERIFY(SpecWinRegWrapper(PATH).get(QStringLiteral("w"), back));
        QCOMPARE(back.userType(), readBack.userType());
        QCOMPARE(back, readBack);
#ifdef Q_OS_WIN
        {
            QSettings settings(PATH, QSettings::NativeFormat);
            const QVariant theirs = settings.value(QStringLiteral("w"));
            QCOMPARE(theirs.userType(), readBack.userType());
            QCOMPARE(theirs, readBack);
            settings.setValue(QStringLiteral("q"), value);
        }
        QCOMPARE(raw(QString(), QStringLiteral("q")).type, qtType);
        QVERIFY(SpecWinRegWrapper(PATH).get(QStringLiteral("q"), back));
        QCOMPARE(back.userType(), readBack.userType());
        QCOMPARE(back, readBack);
#else
        Q_UNUSED(qtType)
#endif
    }

    void valueNames_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("subKey");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "v" << "" << "v";
        QTest::newRow("Default") << "Default" << "" << "";
        QTest::newRow("dot") << "." << "" << "";
        QTest::newRow("default in lower case") << "default" << "" << "default";
        QTest::newRow("DEFAULT") << "DEFAULT" << "" << "DEFAULT";
        QTest::newRow("g/Default") << "g/Default" << "g" << "";
        QTest::newRow("g/default") << "g/default" << "g" << "default";
        QTest::newRow("g/.") << "g/." << "g" << "";
    }

    void valueNames()
    {
        QFETCH(QString, key);
        QFETCH(QString, subKey);
        QFETCH(QString, name);

        SpecWinRegWrapper(PATH).set(key, QStringLiteral("from the wrapper"));
        const RawValue stored = raw(subKey, name);
        QCOMPARE(stored.rc, 0L);
        QCOMPARE(stored.data, utf16z(QStringLiteral("from the wrapper")));
        // A named value must not have landed on the unnamed one, nor the other way round.
        const RawValue other = raw(subKey, name.isEmpty() ? QStringLiteral("Default") : QString());
        QVERIFY(other.rc != 0);
#ifdef Q_OS_WIN
        {
            QSettings settings(PATH, QSettings::NativeFormat);
            QCOMPARE(settings.value(key).toString(), QStringLiteral("from the wrapper"));
            settings.setValue(key, QStringLiteral("from the framework"));
        }
        QVariant back;
        QVERIFY(SpecWinRegWrapper(PATH).get(key, back));
        QCOMPARE(back.toString(), QStringLiteral("from the framework"));
        QCOMPARE(raw(subKey, name).data, utf16z(QStringLiteral("from the framework")));
#endif
    }

    // A string value ends at its first zero for every reader, whatever follows it.
    void stringValueEndsAtTerminator_data()
    {
        QTest::addColumn<ravix::oslayer::Bytes>("data");
        QTest::addColumn<QString>("text");
        Bytes tail = utf16z(QStringLiteral("ab"));
        const Bytes more = utf16z(QStringLiteral("cd"));
        tail.insert(tail.end(), more.begin(), more.end());
        QTest::newRow("bytes after the terminator") << tail << QStringLiteral("ab");
        Bytes padded = utf16z(QStringLiteral("ab"));
        padded.insert(padded.end(), 4, 0);
        QTest::newRow("padded") << padded << QStringLiteral("ab");
        Bytes bare = utf16z(QStringLiteral("ab"));
        bare.resize(bare.size() - 2);
        QTest::newRow("no terminator") << bare << QStringLiteral("ab");
        Bytes encoded = utf16z(ravix::swrw::variantToString(QStringList()));
        QTest::newRow("encoded list cut at its zero") << encoded << QStringLiteral("@Variant(");
    }

    void stringValueEndsAtTerminator()
    {
        QFETCH(ravix::oslayer::Bytes, data);
        QFETCH(QString, text);
        QCOMPARE(writeRaw(*m_os, REG_ROOT_CURRENT_USER, KEY, QStringLiteral("sz"), REG_TYPE_SZ,
                          data, REG_KEY_WOW64_64KEY),
                 0L);
        QVariant v;
        QVERIFY(SpecWinRegWrapper(PATH).get(QStringLiteral("sz"), v));
        // "@Variant(" alone does not decode; both readers fall back to the text.
        QCOMPARE(v.toString(), text);
#ifdef Q_OS_WIN
        QCOMPARE(QSettings(PATH, QSettings::NativeFormat).value(QStringLiteral("sz")).toString(),
                 text);
#endif
    }
};

QTEST_GUILESS_MAIN(TestRegistryInterop)
#include "tst_registryinterop.moc"
