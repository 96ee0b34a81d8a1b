// SPDX-License-Identifier: MIT
#include <ravixcore/logger/logwrappers.h>

#include <QTextCodec>
#include <QtTest>

namespace {

const QString kTab = QStringLiteral("\n") + QString(15, QLatin1Char(' '));

QString spaces(int n)
{
    return QString(n, QLatin1Char(' '));
}

template <class T> QString onTextStream(const T &value)
{
    QString out;
    QTextStream s(&out);
    s << value;
    s.flush();
    return out;
}

template <class T> QString onDebug(const T &value, bool quote)
{
    QString out;
    {
        QDebug d(&out);
        if (!quote)
            d.noquote();
        d << value;
    }
    return out;
}

} // namespace

class TestLogWrappers : public QObject
{
    Q_OBJECT

private slots:
    void logtabIndents();
    void binaryDump_data();
    void binaryDump();
    void binaryTextColumnStaysAligned();
    void binaryDecoderSpansLines();
    void binaryOnDebug_data();
    void binaryOnDebug();
    void encoded_data();
    void encoded();
    void list_data();
    void list();
    void variant_data();
    void variant();
    void debugForms_data();
    void debugForms();
};

void TestLogWrappers::logtabIndents()
{
    QString out;
    QTextStream s(&out);
    s << "a" << logtab << "b";
    s.flush();
    QCOMPARE(out, QStringLiteral("a") + kTab + QStringLiteral("b"));
}

void TestLogWrappers::binaryDump_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QString>("expected");

    const QString head = QStringLiteral("Bytearrray size = ");
    QTest::newRow("empty") << QByteArray() << QByteArray()
                           << head + "0" + kTab + "Byte array is empty\n";
    QTest::newRow("five bytes with CR LF")
        << QByteArray("ab\r\nc") << QByteArray()
        << head + "5" + kTab + "61 62 0d 0a 63 " + spaces(3 * 3 + 30) + "ab..c";
    QTest::newRow("eight bytes") << QByteArray("01234567") << QByteArray()
                                 << head + "8" + kTab + "30 31 32 33 34 35 36 37    " + spaces(27) +
                                        "01234567";
    QTest::newRow("sixteen bytes")
        << QByteArray("0123456789abcdef") << QByteArray()
        << head + "16" + kTab + "30 31 32 33 34 35 36 37    38 39 61 62 63 64 65 66    " +
               "0123456789abcdef";
    QTest::newRow("seventeen bytes")
        << QByteArray("0123456789abcdefX") << QByteArray()
        << head + "17" + kTab + "30 31 32 33 34 35 36 37    38 39 61 62 63 64 65 66    " +
               "0123456789abcdef" + kTab + "58 " + spaces(7 * 3 + 30) + "X";
    QTest::newRow("high bytes through a code page")
        << QByteArray("\xe9\xf1\x7f", 3) << QByteArray("Windows-1251")
        << head + "3" + kTab + "e9 f1 7f " + spaces(5 * 3 + 30) + QString::fromUtf8("йс\x7f");
    QTest::newRow("utf-8") << QByteArray("\xc3\xa9\x01", 3) << QByteArray("UTF-8")
                           << head + "3" + kTab + "c3 a9 01 " + spaces(5 * 3 + 30) +
                                  QString::fromUtf8("é.");
}

void TestLogWrappers::binaryDump()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, codec);
    QFETCH(QString, expected);
    const logbinary v(data, codec.isNull() ? nullptr : codec.constData());
    QCOMPARE(onTextStream(v), expected);
}

void TestLogWrappers::binaryTextColumnStaysAligned()
{
    // Every length from 1 to 40 bytes: each dump line is the indentation, 54 characters of hex
    // part, then the text column; a null code page name decodes with the local one.
    for (int n = 1; n <= 40; ++n) {
        QByteArray data;
        for (int i = 0; i < n; ++i)
            data.append(char('A' + i % 26));
        const QStringList lines = onTextStream(logbinary(data)).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 1 + (n + 15) / 16);
        for (int l = 1; l < lines.size(); ++l) {
            const QString line = lines.at(l);
            const QByteArray chunk = data.mid((l - 1) * 16, 16);
            QVERIFY2(line.startsWith(spaces(15)), qPrintable(line));
            QCOMPARE(line.mid(15 + 54), QTextCodec::codecForLocale()->toUnicode(chunk));
            QCOMPARE(line.mid(15, 54).simplified().remove(QLatin1Char(' ')),
                     QString::fromLatin1(chunk.toHex()));
        }
    }
}

void TestLogWrappers::binaryDecoderSpansLines()
{
    // A two-byte character cut by the line end still decodes whole, on the second line.
    QByteArray data(15, 'a');
    data.append("\xc3\xa9z");
    const QStringList lines = onTextStream(logbinary(data, "UTF-8")).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(1).mid(15 + 54), QString(15, QLatin1Char('a')));
    QCOMPARE(lines.at(2).mid(15 + 54), QString::fromUtf8("éz"));
}

void TestLogWrappers::binaryOnDebug_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("quote");
    QTest::addColumn<QString>("expected");

    const QString head = QStringLiteral("Bytearrray size =  ");
    QTest::newRow("empty") << QByteArray() << false
                           << head + "0 " + kTab + "Byte array is empty \n";
    QTest::newRow("two bytes") << QByteArray("A\n") << false
                               << head + "2 " + kTab + "41 0a " + spaces(6 * 3 + 30) + " A. ";
    QTest::newRow("seventeen bytes")
        << QByteArray("0123456789abcdefX") << false
        << head + "17 " + kTab + "30 31 32 33 34 35 36 37    38 39 61 62 63 64 65 66    " +
               "0123456789abcdef " + kTab + "58 " + spaces(7 * 3 + 30) + " X ";
    // Quoting marks the items only; separators, padding and indentation stay bare.
    QTest::newRow("seventeen bytes, quoted")
        << QByteArray("0123456789abcdefX") << true
        << "\"Bytearrray size = \" 17 " + kTab +
               "\"30\" \"31\" \"32\" \"33\" \"34\" \"35\" \"36\" \"37\"    " +
               "\"38\" \"39\" \"61\" \"62\" \"63\" \"64\" \"65\" \"66\"    " +
               "\"0123456789abcdef\" " + kTab + "\"58\" " + spaces(7 * 3 + 30) + " \"X\" ";
}

void TestLogWrappers::binaryOnDebug()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, quote);
    QFETCH(QString, expected);
    QCOMPARE(onDebug(logbinary(data, "UTF-8"), quote), expected);
}

void TestLogWrappers::encoded_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one line stays on the current line")
        << QByteArray("plain") << QByteArray("UTF-8") << QStringLiteral("plain");
    QTest::newRow("CR LF line ends")
        << QByteArray("a\r\nb\r\n") << QByteArray("UTF-8") << kTab + "a" + kTab + "b" + kTab;
    QTest::newRow("CR CR LF collapses fully")
        << QByteArray("a\r\r\nb") << QByteArray("UTF-8") << kTab + "a" + kTab + "b";
    QTest::newRow("empty lines kept")
        << QByteArray("a\n\nb") << QByteArray("UTF-8") << kTab + "a" + kTab + kTab + "b";
    QTest::newRow("code page") << QByteArray("\xcf\xf0\xe8\xe2\xe5\xf2")
                               << QByteArray("Windows-1251") << QString::fromUtf8("Привет");
    QTest::newRow("null code page means the local one")
        << QByteArray("abc") << QByteArray() << QStringLiteral("abc");
}

void TestLogWrappers::encoded()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, codec);
    QFETCH(QString, expected);
    const char *name = codec.isNull() ? nullptr : codec.constData();
    QCOMPARE(onTextStream(logencoded(data, name)), expected);
    // The zero-terminated form reads the same text; a null text is empty.
    QCOMPARE(onTextStream(logencoded(data.constData(), name)), expected);
    QCOMPARE(onTextStream(logencoded(static_cast<const char *>(nullptr), name)), QString());
}

void TestLogWrappers::list_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QStringList() << QString();
    QTest::newRow("two") << QStringList{"a", "b"} << kTab + "a" + kTab + "b";
    QTest::newRow("empty item") << QStringList{QString(), "x"} << kTab + kTab + "x";
}

void TestLogWrappers::list()
{
    QFETCH(QStringList, items);
    QFETCH(QString, expected);
    QCOMPARE(onTextStream(loglist(items)), expected);
}

void TestLogWrappers::variant_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");
    QVariantMap map;
    map.insert(QStringLiteral("name"), QStringLiteral("svc"));
    map.insert(QStringLiteral("n"), 2);
    QTest::newRow("map") << QVariant(map)
                         << kTab + "{" + kTab + "    \"n\": 2," + kTab + "    \"name\": \"svc\"" +
                                kTab + "}" + kTab;
    QTest::newRow("string list") << QVariant(QStringList{"x"})
                                 << kTab + "[" + kTab + "    \"x\"" + kTab + "]" + kTab;
    QTest::newRow("plain value gives one empty line") << QVariant(5) << kTab;
    QTest::newRow("invalid") << QVariant() << kTab;
}

void TestLogWrappers::variant()
{
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    QCOMPARE(onTextStream(logvariant(value)), expected);
}

void TestLogWrappers::debugForms_data()
{
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
    QTest::newRow("list, no quotes")
        << onDebug(loglist({"a", "b"}), false) << kTab + "a " + kTab + "b ";
    QTest::newRow("list, quoted") << onDebug(loglist({"a", "b"}), true)
                                  << kTab + "\"a\" " + kTab + "\"b\" ";
    QTest::newRow("encoded one item, no quotes")
        << onDebug(logencoded("a\r\nb", "UTF-8"), false) << kTab + "a" + kTab + "b ";
    QTest::newRow("variant, no quotes") << onDebug(logvariant(QVariantList{1}), false)
                                        << kTab + "[ " + kTab + "    1 " + kTab + "] " + kTab + " ";
}

void TestLogWrappers::debugForms()
{
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

QTEST_GUILESS_MAIN(TestLogWrappers)
#include "tst_logwrappers.moc"
