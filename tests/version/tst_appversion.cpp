// SPDX-License-Identifier: MIT
#include <ravixcore/version/appversion.h>

#include <QtTest>

using ravix::AppVersion;

namespace {
const QString BUILD = QStringLiteral("2021-12-16T16:24:45");
}

class TestAppVersion : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("patch");
        QTest::addColumn<QString>("modificator");
        QTest::addColumn<QString>("printed");

        QTest::newRow("release") << "1.2.3" << 1 << 2 << 3 << ""
                                 << "1.2.3";
        QTest::newRow("many digits") << "10.200.3000" << 10 << 200 << 3000 << ""
                                     << "10.200.3000";
        QTest::newRow("two parts") << "1.2" << -1 << -1 << -1 << ""
                                   << "-1.-1.-1";
        QTest::newRow("four parts") << "1.2.3.4" << -1 << -1 << -1 << ""
                                    << "-1.-1.-1";
        QTest::newRow("empty") << "" << -1 << -1 << -1 << ""
                               << "-1.-1.-1";
        QTest::newRow("empty part") << "1..3" << -1 << -1 << -1 << ""
                                    << "-1.-1.-1";
        QTest::newRow("word major") << "x.2.3" << -1 << -1 << -1 << ""
                                    << "-1.-1.-1";
        QTest::newRow("word minor") << "1.y.3" << -1 << -1 << -1 << ""
                                    << "-1.-1.-1";
        QTest::newRow("upper rc") << "1.2.3RC1" << 1 << 2 << 3 << "rc1"
                                  << "1.2.3rc1";
        QTest::newRow("alpha") << "2.0.0a1" << 2 << 0 << 0 << "a1"
                               << "2.0.0a1";
        QTest::newRow("beta") << "2.0.0b1" << 2 << 0 << 0 << "b1"
                              << "2.0.0b1";
        QTest::newRow("rc") << "2.0.0rc1" << 2 << 0 << 0 << "rc1"
                            << "2.0.0rc1";
        QTest::newRow("bare b") << "1.2.3b" << 1 << 2 << 3 << "b"
                                << "1.2.3b";
        // "a" is searched first, so "beta" leaves "3bet" as the number.
        QTest::newRow("beta word") << "1.2.3beta" << -1 << -1 << -1 << ""
                                   << "-1.-1.-1";
        // After a "b" split the number left over is split again at "rc".
        QTest::newRow("rc before b") << "1.2.3rc1b2" << 1 << 2 << 3 << "rc1"
                                     << "1.2.3rc1";
        QTest::newRow("bare rc before b") << "1.2.3RCb" << 1 << 2 << 3 << "rc"
                                          << "1.2.3rc";
        QTest::newRow("b before rc") << "1.2.3b1rc2" << 1 << 2 << 3 << "b1rc2"
                                     << "1.2.3b1rc2";
        QTest::newRow("unknown suffix") << "1.2.3c" << -1 << -1 << -1 << ""
                                        << "-1.-1.-1";
        QTest::newRow("spaced") << " 1 . 2 . 3 " << 1 << 2 << 3 << ""
                                << "1.2.3";
        QTest::newRow("spaced rc") << "1.2. 3 rc2" << 1 << 2 << 3 << "rc2"
                                   << "1.2.3rc2";
        // The "b" split comes first, so the "rc" modificator keeps the space before the "b".
        QTest::newRow("spaced b after rc") << "1.2.3rc1 b" << 1 << 2 << 3 << "rc1 "
                                           << "1.2.3rc1 ";
        QTest::newRow("negative") << "-1.2.3" << -1 << 2 << 3 << ""
                                  << "-1.2.3";
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, patch);
        QFETCH(QString, modificator);
        QFETCH(QString, printed);

        const AppVersion v(text, BUILD);
        QCOMPARE(v.majorVersion(), major);
        QCOMPARE(v.minorVersion(), minor);
        QCOMPARE(v.patchVersion(), patch);
        QCOMPARE(v.modificator(), modificator);
        QCOMPARE(v.version(), printed);
        QCOMPARE(v.isValid(), major >= 0 && minor >= 0 && patch >= 0);
        // The printed form parses back to the same number; only a space that a "b" split
        // left at the end of the modificator is lost, as parsing simplifies the text.
        if (v.isValid()) {
            const AppVersion again(v.version(), BUILD);
            QCOMPARE(again.version(), v.version().trimmed());
            if (v.modificator() == v.modificator().trimmed())
                QVERIFY(again == v);
        }
    }

    void validity_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("build");
        QTest::addColumn<bool>("valid");
        QTest::newRow("both") << "1.3.1" << BUILD << true;
        QTest::newRow("with offset") << "1.3.1"
                                     << "2021-12-16T16:24:45+03:00" << true;
        QTest::newRow("no build") << "1.3.1"
                                  << "" << false;
        QTest::newRow("bad build") << "1.3.1"
                                   << "Dec 16 2021" << false;
        QTest::newRow("bad version") << "1.3" << BUILD << false;
        QTest::newRow("nothing") << ""
                                 << "" << false;
    }
    void validity()
    {
        QFETCH(QString, version);
        QFETCH(QString, build);
        QFETCH(bool, valid);
        QCOMPARE(AppVersion(version, build).isValid(), valid);
    }

    void defaultIsUnparsed()
    {
        const AppVersion v;
        QCOMPARE(v.version(), QStringLiteral("-1.-1.-1"));
        QVERIFY(!v.isValid());
        QVERIFY(!v.buildDt().isValid());
        QVERIFY(v.build().isEmpty());
    }

    void settersReplaceWholeFields()
    {
        AppVersion v(QStringLiteral("1.2.3rc1"), BUILD);
        QCOMPARE(v.build(), BUILD);
        QCOMPARE(v.buildDt(), QDateTime(QDate(2021, 12, 16), QTime(16, 24, 45)));

        v.setVersion(QStringLiteral("2.0"));
        QCOMPARE(v.version(), QStringLiteral("-1.-1.-1"));
        QVERIFY(v.modificator().isEmpty());
        v.setVersion(QStringLiteral("4.5.6"));
        QCOMPARE(v.version(), QStringLiteral("4.5.6"));

        v.setBuild(QStringLiteral("2022-01-02T03:04:05"));
        QCOMPARE(v.build(), QStringLiteral("2022-01-02T03:04:05"));
        v.setBuild(QStringLiteral("not a date"));
        QVERIFY(!v.isValid());
    }

    void copyAndMove()
    {
        const AppVersion a(QStringLiteral("1.2.3b2"), BUILD);
        AppVersion b(a);
        QVERIFY(b == a);
        AppVersion c(std::move(b));
        QVERIFY(c == a);
        AppVersion d;
        d = c;
        QVERIFY(d == a);
        AppVersion e;
        e = std::move(d);
        QVERIFY(e == a);
        QCOMPARE(e.modificator(), QStringLiteral("b2"));
    }

    // Version numbers only: expected order of a against b (-1 less, 0 equal, 1 more).
    void versionOrder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("equal") << "1.2.3"
                               << "1.2.3" << 0;
        QTest::newRow("case of suffix") << "1.2.3RC1"
                                        << "1.2.3rc1" << 0;
        QTest::newRow("major") << "1.9.9"
                               << "2.0.0" << -1;
        QTest::newRow("minor numeric") << "1.10.0"
                                       << "1.9.0" << 1;
        QTest::newRow("patch") << "1.2.3"
                               << "1.2.4" << -1;
        QTest::newRow("rc before release") << "1.2.3rc1"
                                           << "1.2.3" << -1;
        QTest::newRow("release after rc") << "1.2.3"
                                          << "1.2.3rc1" << 1;
        QTest::newRow("a before b") << "1.2.3a"
                                    << "1.2.3b" << -1;
        QTest::newRow("a1 before b1") << "2.0.0a1"
                                      << "2.0.0b1" << -1;
        QTest::newRow("b1 before rc1") << "2.0.0b1"
                                       << "2.0.0rc1" << -1;
        QTest::newRow("rc1 before release") << "2.0.0rc1"
                                            << "2.0.0" << -1;
        QTest::newRow("a1 before release") << "2.0.0a1"
                                           << "2.0.0" << -1;
        QTest::newRow("rc2 after rc1") << "2.0.0rc2"
                                       << "2.0.0rc1" << 1;
        QTest::newRow("pre-release of newer") << "2.0.0a1"
                                              << "1.9.9" << 1;
        QTest::newRow("unparsed before any") << "1.2"
                                             << "0.0.0" << -1;
    }
    void versionOrder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);

        QCOMPARE(AppVersion::lessThen(a, b), order < 0);
        QCOMPARE(AppVersion::moreThen(a, b), order > 0);
        QCOMPARE(AppVersion::equilTo(a, b), order == 0);

        // Different builds do not change the version comparison.
        const AppVersion va(a, QStringLiteral("2030-01-01T00:00:00"));
        const AppVersion vb(b, BUILD);
        QCOMPARE(va.versionLessThen(vb), order < 0);
        QCOMPARE(va.versionMoreThen(vb), order > 0);
        QCOMPARE(va.versionEquilTo(vb), order == 0);
        QCOMPARE(vb.versionLessThen(va), order > 0);
        QCOMPARE(vb.versionMoreThen(va), order < 0);

        // With equal builds the full order follows the version order.
        const AppVersion wa(a, BUILD);
        QCOMPARE(wa < vb, order < 0);
        QCOMPARE(wa > vb, order > 0);
        QCOMPARE(wa == vb, order == 0);
        QCOMPARE(wa != vb, order != 0);
        QCOMPARE(wa <= vb, order <= 0);
        QCOMPARE(wa >= vb, order >= 0);
    }

    // Equal versions are ordered by their builds; a version difference outweighs any build.
    void buildOrder_data()
    {
        QTest::addColumn<QString>("va");
        QTest::addColumn<QString>("ba");
        QTest::addColumn<QString>("vb");
        QTest::addColumn<QString>("bb");
        QTest::addColumn<int>("order");
        QTest::newRow("earlier build") << "1.0.0"
                                       << "2021-01-01T00:00:00"
                                       << "1.0.0"
                                       << "2021-02-01T00:00:00" << -1;
        QTest::newRow("later build") << "1.0.0"
                                     << "2021-02-01T00:00:00"
                                     << "1.0.0"
                                     << "2021-01-01T00:00:00" << 1;
        QTest::newRow("same build") << "1.0.0"
                                    << "2021-01-01T00:00:00"
                                    << "1.0.0"
                                    << "2021-01-01T00:00:00" << 0;
        QTest::newRow("version wins over build") << "1.0.1"
                                                 << "2020-01-01T00:00:00"
                                                 << "1.0.0"
                                                 << "2021-01-01T00:00:00" << 1;
        QTest::newRow("pre-release with later build") << "1.0.0rc1"
                                                      << "2022-01-01T00:00:00"
                                                      << "1.0.0"
                                                      << "2021-01-01T00:00:00" << -1;
    }
    void buildOrder()
    {
        QFETCH(QString, va);
        QFETCH(QString, ba);
        QFETCH(QString, vb);
        QFETCH(QString, bb);
        QFETCH(int, order);
        const AppVersion a(va, ba);
        const AppVersion b(vb, bb);
        QCOMPARE(a < b, order < 0);
        QCOMPARE(a <= b, order <= 0);
        QCOMPARE(a > b, order > 0);
        QCOMPARE(a >= b, order >= 0);
        QCOMPARE(a == b, order == 0);
        QCOMPARE(a != b, order != 0);
        QCOMPARE(b<a, order> 0);
        QCOMPARE(b > a, order < 0);
    }
};

QTEST_GUILESS_MAIN(TestAppVersion)
#include "tst_appversion.moc"
