// SPDX-License-Identifier: MIT
#include "emulation.h"

#include "sys/settingsencoding_p.h"
#include "sys/specwinregwrapper_p.h"
#include <ravixcore/sys/specwinregwrapper.h>

#include <QtTest>

#include <QPoint>
#include <QRect>
#include <QSize>

using namespace ravix::oslayer;
using ravix::swrw::SpecWinRegWrapper;
using namespace ravixtest;

Q_DECLARE_METATYPE(ravix::oslayer::Bytes)

namespace {

Bytes bytesOf(std::initializer_list<int> l)
{
    Bytes b;
    for (int v : l)
        b.push_back(static_cast<unsigned char>(v));
    return b;
}

Bytes utf16(const QString &s, int zeros)
{
    Bytes b = utf16z(s);
    b.resize(b.size() - 2);
    b.insert(b.end(), std::size_t(zeros) * 2, 0);
    return b;
}

} // namespace

class TestSpecWinRegWrapper : public QObject
{
    Q_OBJECT

    EmulatedWindows *w = nullptr;

private slots:
    void initTestCase()
    {
        w = emulatedWindows();
        QVERIFY(w);
    }

    void init() { w->reset(); }

    void cleanup() { QCOMPARE(w->registry().openHandles(), std::size_t(0)); }

    void rootsAndAbbreviations_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quintptr>("root");
        QTest::newRow("HKLM") << "HKLM\\SOFTWARE\\X" << quintptr(REG_ROOT_LOCAL_MACHINE);
        QTest::newRow("HKEY_LOCAL_MACHINE")
            << "HKEY_LOCAL_MACHINE\\SOFTWARE\\X" << quintptr(REG_ROOT_LOCAL_MACHINE);
        QTest::newRow("leading backslash")
            << "\\HKLM\\SOFTWARE\\X" << quintptr(REG_ROOT_LOCAL_MACHINE);
        QTest::newRow("trailing backslash")
            << "HKLM\\SOFTWARE\\X\\" << quintptr(REG_ROOT_LOCAL_MACHINE);
        QTest::newRow("HKCU") << "HKCU\\SOFTWARE\\X" << quintptr(REG_ROOT_CURRENT_USER);
        QTest::newRow("HKEY_CURRENT_USER")
            << "HKEY_CURRENT_USER\\SOFTWARE\\X" << quintptr(REG_ROOT_CURRENT_USER);
        QTest::newRow("HKCR") << "HKCR\\SOFTWARE\\X" << quintptr(REG_ROOT_CLASSES_ROOT);
        QTest::newRow("HKEY_CLASSES_ROOT")
            << "HKEY_CLASSES_ROOT\\SOFTWARE\\X" << quintptr(REG_ROOT_CLASSES_ROOT);
        QTest::newRow("HKU") << "HKU\\SOFTWARE\\X" << quintptr(REG_ROOT_USERS);
        QTest::newRow("HKEY_USERS") << "HKEY_USERS\\SOFTWARE\\X" << quintptr(REG_ROOT_USERS);
    }

    void rootsAndAbbreviations()
    {
        QFETCH(QString, path);
        QFETCH(quintptr, root);
        SpecWinRegWrapper wrapper(path);
        QVERIFY(wrapper.isWritable());
        wrapper.set(QStringLiteral("v"), 7);
        const RawValue raw = rawValue(*w, root, QStringLiteral("SOFTWARE\\X"), QStringLiteral("v"),
                                      REG_KEY_WOW64_64KEY);
        QCOMPARE(raw.rc, 0L);
        QCOMPARE(raw.type, REG_TYPE_DWORD);
        // Only that root holds it.
        int holders = 0;
        for (RegKey r :
             {REG_ROOT_CLASSES_ROOT, REG_ROOT_CURRENT_USER, REG_ROOT_LOCAL_MACHINE, REG_ROOT_USERS})
            holders += rawValue(*w, r, QStringLiteral("SOFTWARE\\X"), QStringLiteral("v"),
                                REG_KEY_WOW64_64KEY)
                           .rc == 0;
        QCOMPARE(holders, 1);
    }

    void sameKeyUnderBothNames()
    {
        SpecWinRegWrapper(QStringLiteral("HKLM\\SOFTWARE\\X")).set(QStringLiteral("a"), "1");
        QVariant v;
        QVERIFY(SpecWinRegWrapper(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\X"))
                    .get(QStringLiteral("a"), v));
        QCOMPARE(v, QVariant(QStringLiteral("1")));
        QCOMPARE(SpecWinRegWrapper(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"))
                     .children(QStringLiteral("X"), SpecWinRegWrapper::ChildKeys),
                 QStringList{QStringLiteral("a")});
    }

    void badPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("lower-case root") << "hklm\\SOFTWARE\\X";
        QTest::newRow("mixed-case root") << "Hkey_Local_Machine\\SOFTWARE\\X";
        QTest::newRow("slash after root") << "HKLM/SOFTWARE/X";
        QTest::newRow("glued root") << "HKLMSOFTWARE\\X";
        QTest::newRow("no root") << "SOFTWARE\\X";
        QTest::newRow("empty") << "";
        QTest::newRow("two backslashes") << "\\\\HKLM\\SOFTWARE\\X";
    }

    void badPaths()
    {
        QFETCH(QString, path);
        // Something to find, were the path taken for a real key.
        SpecWinRegWrapper(QStringLiteral("HKLM\\SOFTWARE\\X")).set(QStringLiteral("a"), 1);
        w->clearRecords();
        SpecWinRegWrapper wrapper(path);
        QVERIFY(!wrapper.isWritable());
        QVariant v;
        QVERIFY(!wrapper.get(QStringLiteral("a"), v));
        QVERIFY(!v.isValid());
        wrapper.set(QStringLiteral("a"), 2);
        wrapper.set(QStringLiteral("g/b"), 2);
        wrapper.remove(QStringLiteral("a"));
        wrapper.clear();
        wrapper.sync();
        QVERIFY(wrapper.children(QString(), SpecWinRegWrapper::AllKeys).isEmpty());
        QVERIFY(w->changes().empty());
        QVERIFY(SpecWinRegWrapper(QStringLiteral("HKLM\\SOFTWARE\\X")).get(QStringLiteral("a"), v));
        QCOMPARE(v.toInt(), 1);
    }

    void valueTypes_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<Bytes>("data");
        QTest::addColumn<QVariant>("readBack");

        QTest::newRow("int") << QVariant(-2) << quint32(REG_TYPE_DWORD)
                             << bytesOf({0xfe, 0xff, 0xff, 0xff}) << QVariant(-2);
        QTest::newRow("uint") << QVariant(0x80000001u) << quint32(REG_TYPE_DWORD)
                              << bytesOf({1, 0, 0, 0x80}) << QVariant(int(0x80000001u));
        QTest::newRow("qlonglong")
            << QVariant(qlonglong(0x0102030405060708LL)) << quint32(REG_TYPE_QWORD)
            << bytesOf({8, 7, 6, 5, 4, 3, 2, 1}) << QVariant(qlonglong(0x0102030405060708LL));
        QTest::newRow("qulonglong")
            << QVariant(qulonglong(0xffffffffffffffffULL)) << quint32(REG_TYPE_QWORD)
            << bytesOf({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}) << QVariant(qlonglong(-1));
        QTest::newRow("string") << QVariant(QStringLiteral("Explorer.exe")) << quint32(REG_TYPE_SZ)
                                << utf16("Explorer.exe", 1)
                                << QVariant(QStringLiteral("Explorer.exe"));
        QTest::newRow("empty string") << QVariant(QString()) << quint32(REG_TYPE_SZ)
                                      << utf16(QString(), 1) << QVariant(QString(""));
        QTest::newRow("leading at") << QVariant(QStringLiteral("@x")) << quint32(REG_TYPE_SZ)
                                    << utf16("@@x", 1) << QVariant(QStringLiteral("@x"));
        const QString zero = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
        QTest::newRow("string with zero")
            << QVariant(zero) << quint32(REG_TYPE_BINARY)
            << utf16(QStringLiteral("@String(") + zero + QStringLiteral(")"), 0) << QVariant(zero);
        QTest::newRow("bytes") << QVariant(QByteArray("ab")) << quint32(REG_TYPE_SZ)
                               << utf16("@ByteArray(ab)", 1) << QVariant(QByteArray("ab"));
        QTest::newRow("bytes with zero")
            << QVariant(QByteArray("a\0b", 3)) << quint32(REG_TYPE_BINARY)
            << utf16(QStringLiteral("@ByteArray(a") + QChar(0) + QStringLiteral("b)"), 0)
            << QVariant(QByteArray("a\0b", 3));
        QTest::newRow("invalid") << QVariant() << quint32(REG_TYPE_SZ) << utf16("@Invalid()", 1)
                                 << QVariant();
        QTest::newRow("rect") << QVariant(QRect(1, 2, 3, 4)) << quint32(REG_TYPE_SZ)
                              << utf16("@Rect(1 2 3 4)", 1) << QVariant(QRect(1, 2, 3, 4));
        QTest::newRow("size") << QVariant(QSize(5, 6)) << quint32(REG_TYPE_SZ)
                              << utf16("@Size(5 6)", 1) << QVariant(QSize(5, 6));
        QTest::newRow("point") << QVariant(QPoint(-1, 9)) << quint32(REG_TYPE_SZ)
                               << utf16("@Point(-1 9)", 1) << QVariant(QPoint(-1, 9));
        QTest::newRow("bool") << QVariant(true) << quint32(REG_TYPE_SZ) << utf16("true", 1)
                              << QVariant(QStringLiteral("true"));
        QTest::newRow("double") << QVariant(2.5) << quint32(REG_TYPE_SZ) << utf16("2.5", 1)
                                << QVariant(QStringLiteral("2.5"));
        const QVariant date(QDate(2024, 1, 2));
        QTest::newRow("date") << date << quint32(REG_TYPE_BINARY)
                              << utf16(ravix::swrw::variantToString(date), 0) << date;

        Bytes multi = utf16("C:\\pagefile.sys 0 0", 1);
        const Bytes second = utf16("@@x", 1);
        multi.insert(multi.end(), second.begin(), second.end());
        multi.push_back(0);
        multi.push_back(0);
        QTest::newRow("string list")
            << QVariant(QStringList{QStringLiteral("C:\\pagefile.sys 0 0"), QStringLiteral("@x")})
            << quint32(REG_TYPE_MULTI_SZ) << multi
            << QVariant(QStringList{QStringLiteral("C:\\pagefile.sys 0 0"), QStringLiteral("@x")});
        Bytes mixed = utf16("a", 1);
        const Bytes size = utf16("@Size(1 2)", 1);
        mixed.insert(mixed.end(), size.begin(), size.end());
        mixed.push_back(0);
        mixed.push_back(0);
        QTest::newRow("variant list") << QVariant(QVariantList{QStringLiteral("a"), QSize(1, 2)})
                                      << quint32(REG_TYPE_MULTI_SZ) << mixed
                                      << QVariant(QVariantList{QStringLiteral("a"), QSize(1, 2)});
        const QVariant empty(QStringList{});
        // Encoded lists hold zero characters, which would end a string value.
        QTest::newRow("empty list") << empty << quint32(REG_TYPE_BINARY)
                                    << utf16(ravix::swrw::variantToString(empty), 0) << empty;
        const QVariant withEmpty(QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")});
        QTest::newRow("list with empty element")
            << withEmpty << quint32(REG_TYPE_BINARY)
            << utf16(ravix::swrw::variantToString(withEmpty), 0) << withEmpty;
        // As a multi-string the zero would end the element and start another one.
        const QVariant withZero(
            QStringList{QStringLiteral("a"), QString::fromUtf16(u"b\0c", 3), QStringLiteral("d")});
        QTest::newRow("list with zero inside an element")
            << withZero << quint32(REG_TYPE_BINARY)
            << utf16(ravix::swrw::variantToString(withZero), 0) << withZero;
    }

    void valueTypes()
    {
        QFETCH(QVariant, value);
        QFETCH(quint32, type);
        QFETCH(Bytes, data);
        QFETCH(QVariant, readBack);
        {
            SpecWinRegWrapper wrapper(QStringLiteral("HKCU\\Software\\T"));
            wrapper.set(QStringLiteral("v"), value);
        }
        const RawValue raw = rawValue(*w, REG_ROOT_CURRENT_USER, QStringLiteral("Software\\T"),
                                      QStringLiteral("v"), REG_KEY_WOW64_64KEY);
        QCOMPARE(raw.rc, 0L);
        QCOMPARE(raw.type, type);
        QCOMPARE(raw.data, data);
        QVariant back;
        QVERIFY(
            SpecWinRegWrapper(QStringLiteral("HKCU\\Software\\T")).get(QStringLiteral("v"), back));
        QCOMPARE(back.userType(), readBack.userType());
        QCOMPARE(back, readBack);
    }

    void emptyListEncoding()
    {
        SpecWinRegWrapper wrapper(QStringLiteral("HKCU\\Software\\T"));
        wrapper.set(QStringLiteral("list"), QStringList());
        const RawValue raw = rawValue(*w, REG_ROOT_CURRENT_USER, QStringLiteral("Software\\T"),
                                      QStringLiteral("list"), REG_KEY_WOW64_64KEY);
        // A binary value holding the whole encoding, zero characters included.
        QCOMPARE(raw.type, REG_TYPE_BINARY);
        QVERIFY(QString::fromUtf16(reinterpret_cast<const ushort *>(raw.data.data()),
                                   int(raw.data.size() / 2))
                    .startsWith(QLatin1String("@Variant(")));
        QVariant back;
        QVERIFY(wrapper.get(QStringLiteral("list"), back));
        QCOMPARE(back.type(), QVariant::StringList);
        QVERIFY(back.toStringList().isEmpty());
    }

    void foreignTypes_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<Bytes>("data");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("expand sz") << quint32(REG_TYPE_EXPAND_SZ) << utf16("%SystemRoot%", 1)
                                   << QVariant(QStringLiteral("%SystemRoot%"));
        QTest::newRow("sz ends at its first zero")
            << quint32(REG_TYPE_SZ) << utf16(QStringLiteral("ab") + QChar(0) + "cd", 1)
            << QVariant(QStringLiteral("ab"));
        Bytes padded = utf16("ab", 1);
        padded.insert(padded.end(), 4, 0);
        QTest::newRow("sz padded with zeros")
            << quint32(REG_TYPE_SZ) << padded << QVariant(QStringLiteral("ab"));
        QTest::newRow("sz without terminator")
            << quint32(REG_TYPE_SZ) << utf16("ab", 0) << QVariant(QStringLiteral("ab"));
        QTest::newRow("big endian")
            << quint32(REG_TYPE_DWORD_BIG_ENDIAN) << bytesOf({0, 0, 1, 2}) << QVariant(0x102);
        QTest::newRow("none") << quint32(REG_TYPE_NONE) << utf16("x", 0)
                              << QVariant(QStringLiteral("x"));
        QTest::newRow("encoded sz")
            << quint32(REG_TYPE_SZ) << utf16("@Size(3 4)", 1) << QVariant(QSize(3, 4));
        QTest::newRow("empty multi sz")
            << quint32(REG_TYPE_MULTI_SZ) << Bytes() << QVariant(QStringList());
    }

    void foreignTypes()
    {
        QFETCH(quint32, type);
        QFETCH(Bytes, data);
        QFETCH(QVariant, expected);
        QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, QStringLiteral("SYSTEM\\T"),
                          QStringLiteral("v"), type, data, REG_KEY_WOW64_64KEY),
                 0L);
        QVariant v;
        QVERIFY(SpecWinRegWrapper(QStringLiteral("HKLM\\SYSTEM\\T")).get(QStringLiteral("v"), v));
        QCOMPARE(v, expected);
    }

    void unknownTypeWarns()
    {
        QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, QStringLiteral("SYSTEM\\T"),
                          QStringLiteral("link"), REG_TYPE_LINK, bytesOf({1, 2}),
                          REG_KEY_WOW64_64KEY),
                 0L);
        QTest::ignoreMessage(QtWarningMsg, "QSettings: Unknown data 6 type in Windows registry");
        QVariant v = 5;
        SpecWinRegWrapper(QStringLiteral("HKLM\\SYSTEM\\T")).get(QStringLiteral("link"), v);
        QVERIFY(!v.isValid());
    }

    void sixtyFourBitView()
    {
        // A 32-bit process: HKLM\SOFTWARE is redirected unless the 64-bit view is asked for.
        QVERIFY(w->registry().redirect32());
        QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Wow6432Node\\V"),
                          QStringLiteral("a"), REG_TYPE_SZ, utf16z("copy"), REG_KEY_WOW64_64KEY),
                 0L);
        SpecWinRegWrapper wrapper(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\V"));
        QVariant v;
        QVERIFY(!wrapper.get(QStringLiteral("a"), v));
        wrapper.set(QStringLiteral("a"), QStringLiteral("real"));

        const RawValue real = rawValue(*w, REG_ROOT_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\V"),
                                       QStringLiteral("a"), REG_KEY_WOW64_64KEY);
        QCOMPARE(real.data, utf16z("real"));
        const RawValue copy = rawValue(*w, REG_ROOT_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\V"),
                                       QStringLiteral("a"), 0);
        QCOMPARE(copy.data, utf16z("copy"));

        // The process's own view, as the framework's native settings use it, sees the copy.
        ravix::swrw::SpecWinRegWrapperPrivate own(QStringLiteral("HKLM\\SOFTWARE\\V"), 0);
        QVERIFY(own.get(QStringLiteral("a"), v));
        QCOMPARE(v.toString(), QStringLiteral("copy"));
        // Keys outside SOFTWARE are the same in both views.
        wrapper.sync();
        SpecWinRegWrapper(QStringLiteral("HKLM\\SYSTEM\\S")).set(QStringLiteral("b"), 1);
        QVERIFY(ravix::swrw::SpecWinRegWrapperPrivate(QStringLiteral("HKLM\\SYSTEM\\S"), 0)
                    .get(QStringLiteral("b"), v));
    }

    void childrenAndSlashes()
    {
        SpecWinRegWrapper wrapper(QStringLiteral("HKCU\\Software\\C"));
        wrapper.set(QStringLiteral("top"), 1);
        wrapper.set(QStringLiteral("a/b/c"), 2);
        wrapper.set(QStringLiteral("a/d"), 3);
        wrapper.set(QStringLiteral("x\\y"), 4); // a value whose registry name holds "/"
        wrapper.set(QStringLiteral("//e///f//"), 5);

        RegKey h = 0;
        QCOMPARE(w->regOpenKey(REG_ROOT_CURRENT_USER, L"Software\\C\\a\\b", REG_KEY_READ, &h), 0L);
        w->regCloseKey(h);
        QCOMPARE(rawValue(*w, REG_ROOT_CURRENT_USER, QStringLiteral("Software\\C"),
                          QStringLiteral("x/y"), 0)
                     .rc,
                 0L);
        QCOMPARE(rawValue(*w, REG_ROOT_CURRENT_USER, QStringLiteral("Software\\C\\e"),
                          QStringLiteral("f"), 0)
                     .rc,
                 0L);

        QCOMPARE(wrapper.children(QString(), SpecWinRegWrapper::ChildKeys),
                 (QStringList{QStringLiteral("top"), QStringLiteral("x\\y")}));
        QCOMPARE(wrapper.children(QString(), SpecWinRegWrapper::ChildGroups),
                 (QStringList{QStringLiteral("a"), QStringLiteral("e")}));
        QCOMPARE(wrapper.children(QStringLiteral("a"), SpecWinRegWrapper::ChildGroups),
                 QStringList{QStringLiteral("b")});
        QCOMPARE(wrapper.children(QStringLiteral("a"), SpecWinRegWrapper::ChildKeys),
                 QStringList{QStringLiteral("d")});
        QCOMPARE(wrapper.children(QString(), SpecWinRegWrapper::AllKeys),
                 (QStringList{QStringLiteral("top"), QStringLiteral("x\\y"), QStringLiteral("a/d"),
                              QStringLiteral("a/b/c"), QStringLiteral("e/f")}));
        QCOMPARE(wrapper.children(QStringLiteral("a"), SpecWinRegWrapper::AllKeys),
                 (QStringList{QStringLiteral("d"), QStringLiteral("b/c")}));
        QVERIFY(wrapper.children(QStringLiteral("missing"), SpecWinRegWrapper::AllKeys).isEmpty());
        QVariant v;
        QVERIFY(wrapper.get(QStringLiteral("a/b/c"), v));
        QCOMPARE(v.toInt(), 2);
        QVERIFY(wrapper.get(QStringLiteral("x\\y"), v));
        QCOMPARE(v.toInt(), 4);
        QVERIFY(!wrapper.get(QStringLiteral("x/y"), v));
    }

    void defaultValue()
    {
        QCOMPARE(writeRaw(*w, REG_ROOT_CURRENT_USER, QStringLiteral("Software\\D"), QString(),
                          REG_TYPE_SZ, utf16z("unnamed"), 0),
                 0L);
        SpecWinRegWrapper wrapper(QStringLiteral("HKCU\\Software\\D"));
        QCOMPARE(wrapper.children(QString(), SpecWinRegWrapper::ChildKeys),
                 QStringList{QStringLiteral("Default")});
        QCOMPARE(wrapper.children(QString(), SpecWinRegWrapper::AllKeys),
                 QStringList{QStringLiteral("Default")});
        QVariant v;
        QVERIFY(wrapper.get(QStringLiteral("Default"), v));
        QCOMPARE(v.toString(), QStringLiteral("unnamed"));
        wrapper.set(QStringLiteral("sub/Default"), 3);
        QCOMPARE(
            rawValue(*w, REG_ROOT_CURRENT_USER, QStringLiteral("Software\\D\\sub"), QString(), 0)
                .type,
            REG_TYPE_DWORD);
        wrapper.remove(QStringLiteral("Default"));
        QVERIFY(!wrapper.get(QStringLiteral("Default"), v));
    }

    void removeValueAndSubtree()
    {
        SpecWinRegWrapper wrapper(QStringLiteral("HKLM\\SOFTWARE\\R"));
        wrapper.set(QStringLiteral("keep"), 1);
        wrapper.set(QStringLiteral("gone"), 2);
        wrapper.set(QStringLiteral("gone/x"), 3);
        wrapper.set(QStringLiteral("gone/deep/er/y"), 4);
        wrapper.set(QStringLiteral("other/z"), 5);

        wrapper.remove(QStringLiteral("gone"));
        QVariant v;
        QVERIFY(!wrapper.get(QStringLiteral("gone"), v));
        QVERIFY(!wrapper.get(QStringLiteral("gone/deep/er/y"), v));
        RegKey h = 0;
        QCOMPARE(w->regOpenKey(REG_ROOT_LOCAL_MACHINE, L"SOFTWARE\\R\\gone",
                               REG_KEY_READ | REG_KEY_WOW64_64KEY, &h),
                 OS_ERROR_FILE_NOT_FOUND);
        QCOMPARE(wrapper.children(QString(), SpecWinRegWrapper::AllKeys),
                 (QStringList{QStringLiteral("keep"), QStringLiteral("other/z")}));

        wrapper.remove(QStringLiteral("other/z"));
        QCOMPARE(wrapper.children(QString(), SpecWinRegWrapper::AllKeys),
                 QStringList{QStringLiteral("keep")});

        wrapper.clear();
        QVERIFY(wrapper.children(QString(), SpecWinRegWrapper::AllKeys).isEmpty());
        QVERIFY(wrapper.children(QString(), SpecWinRegWrapper::ChildGroups).isEmpty());
        // The key itself stays.
        QCOMPARE(w->regOpenKey(REG_ROOT_LOCAL_MACHINE, L"SOFTWARE\\R",
                               REG_KEY_READ | REG_KEY_WOW64_64KEY, &h),
                 0L);
        w->regCloseKey(h);
    }

    void readOnlyKey()
    {
        SpecWinRegWrapper(QStringLiteral("HKLM\\SOFTWARE\\Locked")).set(QStringLiteral("a"), 1);
        w->registry().setWriteDenied(REG_ROOT_LOCAL_MACHINE, L"SOFTWARE\\Locked", true);
        w->clearRecords();
        SpecWinRegWrapper wrapper(QStringLiteral("HKLM\\SOFTWARE\\Locked"));
        QVERIFY(!wrapper.isWritable());
        QVariant v;
        QVERIFY(wrapper.get(QStringLiteral("a"), v));
        QCOMPARE(v.toInt(), 1);
        wrapper.set(QStringLiteral("a"), 2);
        wrapper.set(QStringLiteral("b/c"), 2);
        wrapper.remove(QStringLiteral("a"));
        wrapper.clear();
        QVERIFY(w->changes().empty());
        QVERIFY(wrapper.get(QStringLiteral("a"), v));
        QCOMPARE(v.toInt(), 1);
    }

    void failureWarnings()
    {
        SpecWinRegWrapper wrapper(QStringLiteral("HKLM\\SOFTWARE\\F"));
        wrapper.set(QStringLiteral("locked/inner/v"), 1);
        w->registry().setWriteDenied(REG_ROOT_LOCAL_MACHINE, L"SOFTWARE\\F\\locked", true);

        QTest::ignoreMessage(QtWarningMsg,
                             "QSettings: failed to set subkey \"locked\": Access is denied.");
        wrapper.set(QStringLiteral("locked/v"), 2);
        // The locked key refuses to be opened for deletion, so only its value is tried.
        wrapper.remove(QStringLiteral("locked"));
        QVariant v;
        QVERIFY(wrapper.get(QStringLiteral("locked/inner/v"), v));

        w->registry().setWriteDenied(REG_ROOT_LOCAL_MACHINE, L"SOFTWARE\\F\\locked", false);
        w->registry().setWriteDenied(REG_ROOT_LOCAL_MACHINE, L"SOFTWARE\\F\\locked\\inner", true);
        QTest::ignoreMessage(QtWarningMsg,
                             "QSettings: RegDeleteKey failed on key \"locked\": Access is denied.");
        wrapper.remove(QStringLiteral("locked"));
        QVERIFY(wrapper.get(QStringLiteral("locked/inner/v"), v));

        // "inner" cannot be opened for deletion and stays, so "locked" still has a subkey.
        QTest::ignoreMessage(
            QtWarningMsg, "QSettings: RegDeleteKey failed on subkey \"locked\": Access is denied.");
        wrapper.clear();
        QVERIFY(wrapper.get(QStringLiteral("locked/inner/v"), v));
    }

    void registryErrorCodes()
    {
        RegKey h = 0;
        QCOMPARE(w->regOpenKey(REG_ROOT_USERS, L"missing", REG_KEY_READ, &h),
                 OS_ERROR_FILE_NOT_FOUND);
        QCOMPARE(w->regCreateKey(REG_ROOT_USERS, L"a\\\\b", REG_KEY_ALL_ACCESS, &h),
                 OS_ERROR_INVALID_PARAMETER);
        QCOMPARE(w->regCreateKey(REG_ROOT_USERS, L"A\\B", REG_KEY_ALL_ACCESS, &h), 0L);
        RegKey ro = 0;
        QCOMPARE(w->regOpenKey(REG_ROOT_USERS, L"a\\b", REG_KEY_READ, &ro), 0L);
        QCOMPARE(w->regSetValue(ro, L"v", REG_TYPE_DWORD, dwordBytes(1)), OS_ERROR_ACCESS_DENIED);
        QCOMPARE(w->regSetValue(h, L"v", REG_TYPE_DWORD, dwordBytes(1)), 0L);
        std::wstring name;
        QCOMPARE(w->regEnumValue(ro, 0, &name), 0L);
        QCOMPARE(QString::fromStdWString(name), QStringLiteral("v"));
        QCOMPARE(w->regEnumValue(ro, 1, &name), OS_ERROR_NO_MORE_ITEMS);
        QCOMPARE(w->regDeleteKey(REG_ROOT_USERS, L"a", 0), OS_ERROR_ACCESS_DENIED); // has subkeys
        QCOMPARE(w->regDeleteKey(REG_ROOT_USERS, L"a\\b", 0), 0L);
        QCOMPARE(w->regQueryValue(h, L"v", nullptr, nullptr), OS_ERROR_KEY_DELETED);
        QCOMPARE(w->regCloseKey(h), 0L);
        QCOMPARE(w->regCloseKey(ro), 0L);
        QCOMPARE(w->regCloseKey(ro), OS_ERROR_INVALID_HANDLE);
        QCOMPARE(QString::fromStdWString(w->errorMessage(OS_ERROR_ACCESS_DENIED)),
                 QStringLiteral("Access is denied."));
        QCOMPARE(QString::fromStdWString(w->errorMessage(OS_ERROR_FILE_NOT_FOUND)),
                 QStringLiteral("The system cannot find the file specified."));
    }
};

QTEST_GUILESS_MAIN(TestSpecWinRegWrapper)
#include "tst_specwinregwrapper.moc"
