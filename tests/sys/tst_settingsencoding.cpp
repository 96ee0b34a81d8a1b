// SPDX-License-Identifier: MIT
#include "sys/settingsencoding_p.h"

#include <QtTest>

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>

using namespace ravix::swrw;

class TestSettingsEncoding : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The text the framework writes for \a v into an INI file, with the INI file's own
    // escaping undone by the framework itself: the raw value is read back behind "@@",
    // which makes the reader hand out "@" and the encoded text as a plain string.
    QString frameworkEncoding(const QVariant &v, const QString &name)
    {
        const QString written = m_dir.filePath(name + QStringLiteral("-w.ini"));
        {
            QSettings s(written, QSettings::IniFormat);
            s.setValue(QStringLiteral("k"), v);
            s.sync();
            if (s.status() != QSettings::NoError)
                return QStringLiteral("<write failed>");
        }
        QFile f(written);
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("<read failed>");
        QByteArray raw;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("k="))
                raw = line.mid(2);
        const QString reread = m_dir.filePath(name + QStringLiteral("-r.ini"));
        QFile out(reread);
        if (!out.open(QIODevice::WriteOnly))
            return QStringLiteral("<write failed>");
        out.write("[General]\nk=@@" + raw + "\n");
        out.close();
        QSettings r(reread, QSettings::IniFormat);
        const QVariant back = r.value(QStringLiteral("k"));
        if (back.type() != QVariant::String)
            return QStringLiteral("<not a string: %1>").arg(back.typeName());
        return back.toString().mid(1);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void matchesFrameworkIni_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("invalid") << QVariant();
        QTest::newRow("plain string") << QVariant(QStringLiteral("Explorer.exe"));
        QTest::newRow("empty string") << QVariant(QString());
        QTest::newRow("leading at") << QVariant(QStringLiteral("@home"));
        QTest::newRow("doubled at") << QVariant(QStringLiteral("@@x"));
        QTest::newRow("specials") << QVariant(QStringLiteral("a, b; c=\"d\" \\e\\"));
        QTest::newRow("non-latin") << QVariant(QStringLiteral("Привет ü"));
        QTest::newRow("with zero")
            << QVariant(QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
        QTest::newRow("int") << QVariant(-42);
        QTest::newRow("uint") << QVariant(4000000000u);
        QTest::newRow("qlonglong") << QVariant(qlonglong(-1234567890123LL));
        QTest::newRow("qulonglong") << QVariant(qulonglong(18446744073709551615ULL));
        QTest::newRow("double") << QVariant(0.1);
        QTest::newRow("bool") << QVariant(true);
        QTest::newRow("bytes") << QVariant(QByteArray("ab\0\x01\xff)c", 7));
        QTest::newRow("empty bytes") << QVariant(QByteArray());
        QTest::newRow("rect") << QVariant(QRect(1, -2, 30, 40));
        QTest::newRow("size") << QVariant(QSize(640, 480));
        QTest::newRow("point") << QVariant(QPoint(-5, 7));
        QTest::newRow("date") << QVariant(QDate(2024, 2, 29));
        QTest::newRow("time") << QVariant(QTime(23, 59, 58));
        QTest::newRow("datetime") << QVariant(QDateTime(QDate(2024, 2, 29), QTime(12, 0), Qt::UTC));
        QTest::newRow("map") << QVariant(QVariantMap{{QStringLiteral("a"), 1}});
        QTest::newRow("char") << QVariant(QChar(0x44f));
        QTest::newRow("float") << QVariant(1.5f);
    }

    void matchesFrameworkIni()
    {
        QFETCH(QVariant, value);
        QCOMPARE(variantToString(value),
                 frameworkEncoding(value, QString::fromLatin1(QTest::currentDataTag())));
    }

    void roundTrip_data() { matchesFrameworkIni_data(); }

    void roundTrip()
    {
        QFETCH(QVariant, value);
        const QVariant back = stringToVariant(variantToString(value));
        // Numbers and flags come back as their text, as from any settings file.
        switch (int(value.type())) {
        case QVariant::Int:
        case QVariant::UInt:
        case QVariant::LongLong:
        case QVariant::ULongLong:
        case QVariant::Double:
        case QVariant::Bool:
            QCOMPARE(back.toString(), value.toString());
            break;
        default:
            QCOMPARE(back, value);
        }
    }

    void emptyListIsAVariant()
    {
        const QString text = variantToString(QStringList());
        QVERIFY(text.startsWith(QLatin1String("@Variant(")));
        const QVariant back = stringToVariant(text);
        QCOMPARE(back.type(), QVariant::StringList);
        QVERIFY(back.toStringList().isEmpty());
    }

    void listElements()
    {
        // Escaped plain strings stay a string list; an encoded value makes a variant list.
        QCOMPARE(stringListToVariantList({QStringLiteral("@@a"), QStringLiteral("b")}),
                 QVariant(QStringList{QStringLiteral("@a"), QStringLiteral("b")}));
        const QVariant mixed =
            stringListToVariantList({QStringLiteral("x"), QStringLiteral("@Size(1 2)")});
        QCOMPARE(mixed.type(), QVariant::List);
        QCOMPARE(mixed.toList(), (QVariantList{QStringLiteral("x"), QSize(1, 2)}));
        QCOMPARE(variantListToStringList({QStringLiteral("@a"), QPoint(1, 2)}),
                 (QStringList{QStringLiteral("@@a"), QStringLiteral("@Point(1 2)")}));
    }
};

QTEST_GUILESS_MAIN(TestSettingsEncoding)
#include "tst_settingsencoding.moc"
