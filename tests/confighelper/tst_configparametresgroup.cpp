// SPDX-License-Identifier: MIT
#include <ravixcore/confighelper/configparameters.h>
#include <ravixcore/confighelper/configparametresgroup.h>
#include <ravixcore/logger/loggermanager.h>

#include "paramtools.h"

#include <QtTest>

using namespace ravix;
using paramtools::s;
using paramtools::vmap;

namespace {

using GroupPtr = QSharedPointer<ConfigParametresGroup>;

ParamPtr stringParam(const QString &name, const QString &value)
{
    return ParamPtr(new StringConfigParameter(name, value));
}

ParamPtr intParam(const QString &name, int value)
{
    return ParamPtr(new IntConfigParameter<int>(name, value));
}

// Records what the log manager routes to a custom output of the category "default" while it
// lives, with the log manager installed as the message handler.
class WarningCatcher
{
public:
    struct Record
    {
        QtMsgType type;
        QString category;
        QString file;
        QString function;
        QString message;
    };

    WarningCatcher()
    {
        records().clear();
        LoggerManager::setOutputs(
            s("default"),
            [](QtMsgType type, const QMessageLogContext &context, const QString &msg) {
                records().append({type, QString::fromUtf8(context.category),
                                  QString::fromUtf8(context.file),
                                  QString::fromUtf8(context.function), msg});
            });
        m_previous = qInstallMessageHandler(&LoggerManager::logMessageOutput);
    }
    ~WarningCatcher()
    {
        qInstallMessageHandler(m_previous);
        LoggerManager::removeOutput(s("default"));
    }
    WarningCatcher(const WarningCatcher &) = delete;
    WarningCatcher &operator=(const WarningCatcher &) = delete;

    static QList<Record> &records()
    {
        static QList<Record> list;
        return list;
    }

private:
    QtMessageHandler m_previous = nullptr;
};

// The tree used by the write and read tests: G { a: String x, b: Int 5, c: { d: Double 0.5 } }.
ConfigParametresGroup sampleTree()
{
    ConfigParametresGroup inner(s("c"));
    inner.addParameter(ParamPtr(new DoubleConfigParameter(s("d"), 0.5)));
    ConfigParametresGroup g(s("G"));
    g.addParameter(stringParam(s("a"), s("x")));
    g.addParameter(intParam(s("b"), 5));
    g.addParameter(ParamPtr(new ConfigParametresGroup(inner)));
    return g;
}

} // namespace

class TestConfigParametresGroup : public QObject
{
    Q_OBJECT

private slots:
    void writeTree();
    void readTreeBack();
    void factoryCreatesByType_data();
    void factoryCreatesByType();
    void wrongEntryWarned_data();
    void wrongEntryWarned();
    void invalidMembersKept();
    void addParameter();
    void validityAndEquality();
    void copiesCloneMembers_data();
    void copiesCloneMembers();
    void movesTakeMembers();
    void nullAndRenamedMembers();
};

void TestConfigParametresGroup::writeTree()
{
    const QVariantMap written = sampleTree().toMap();
    QCOMPARE(written.keys(), QStringList({s("a"), s("b"), s("c")}));
    RAVIX_COMPARE_STRICT(
        written, vmap({{s("a"), vmap({{s("type"), 4}, {s("val"), s("x")}})},
                       {s("b"), vmap({{s("type"), 2}, {s("val"), s("5")}})},
                       {s("c"), vmap({{s("d"), vmap({{s("type"), 6}, {s("val"), 0.5}})}})}}));
}

void TestConfigParametresGroup::readTreeBack()
{
    const ConfigParametresGroup tree = sampleTree();
    QVariantMap map = tree.toMap();
    // A nested group's map has no type of its own; whoever stores the tree adds it.
    QVariantMap nested = map.value(s("c")).toMap();
    nested.insert(s("type"), 1);
    map.insert(s("c"), nested);

    ConfigParametresGroup back(s("X"));
    {
        WarningCatcher catcher;
        back.parseMap(map);
        // Inside the nested group the added "type" is an entry like any other and is skipped.
        QCOMPARE(WarningCatcher::records().size(), 1);
        QVERIFY(WarningCatcher::records().first().message.startsWith(s("WRONG CONFIG PARAMETER ")));
    }
    QCOMPARE(back.name(), s("X"));
    QCOMPARE(back.type(), AbstractConfigParameter::Group);
    ConfigParametresGroup expected(tree);
    expected.setName(s("X"));
    RAVIX_COMPARE_FIELDS(back, expected);
    RAVIX_COMPARE_STRICT(back.toMap(), tree.toMap());
}

void TestConfigParametresGroup::factoryCreatesByType_data()
{
    QTest::addColumn<QVariantMap>("sub");
    QTest::addColumn<ParamPtr>("expected");
    QTest::addColumn<int>("warnings");

    const QString k = s("k");
    IntConfigParameter<qlonglong> big(k, 1LL << 40);
    ConfigParametresGroup group(k);
    group.addParameter(stringParam(s("m"), QString()));
    // The nested group meets its own "type" as an entry and warns about it.
    QTest::newRow("1 group") << vmap({{s("type"), 1}, {s("m"), vmap({{s("type"), 4}})}})
                             << ParamPtr(new ConfigParametresGroup(group)) << 1;
    QTest::newRow("2 int") << vmap({{s("type"), 2}, {s("val"), s("-9")}}) << intParam(k, -9) << 0;
    QTest::newRow("3 longlong") << vmap({{s("type"), 3}, {s("val"), s("1099511627776")}})
                                << ParamPtr(new IntConfigParameter<qlonglong>(big)) << 0;
    QTest::newRow("4 string") << vmap({{s("type"), 4}}) << stringParam(k, QString()) << 0;
    QTest::newRow("5 bytes") << vmap({{s("type"), 5}, {s("val"), s("YQ==")}})
                             << ParamPtr(new BytesConfigParameter(k, "a")) << 0;
    QTest::newRow("6 double") << vmap({{s("type"), 6}, {s("val"), 1.5}})
                              << ParamPtr(new DoubleConfigParameter(k, 1.5)) << 0;
    QTest::newRow("7 keyval") << vmap({{s("type"), 7}}) << ParamPtr(new KeyValConfigParameter(k))
                              << 0;
    QTest::newRow("type as text") << vmap({{s("type"), s("4")}, {s("val"), s("t")}})
                                  << stringParam(k, s("t")) << 0;
}

void TestConfigParametresGroup::factoryCreatesByType()
{
    QFETCH(QVariantMap, sub);
    QFETCH(ParamPtr, expected);
    QFETCH(int, warnings);

    ConfigParametresGroup g(s("G"));
    WarningCatcher catcher;
    g.parseMap(vmap({{s("k"), sub}}));
    QCOMPARE(WarningCatcher::records().size(), warnings);
    QCOMPARE(g.parameters().keys(), QStringList{s("k")});
    RAVIX_COMPARE_FIELDS(*g[s("k")], *expected);
}

void TestConfigParametresGroup::wrongEntryWarned_data()
{
    QTest::addColumn<QVariant>("entry");
    QTest::addColumn<QString>("json"); // a line the logged map must show

    QTest::newRow("not a map") << QVariant(17) << QString();
    QTest::newRow("no type") << QVariant(vmap({{s("val"), s("q")}})) << s("\"val\": \"q\"");
    QTest::newRow("type 0") << QVariant(vmap({{s("type"), 0}})) << s("\"type\": 0");
    QTest::newRow("type 8") << QVariant(vmap({{s("type"), 8}, {s("val"), s("1")}}))
                            << s("\"type\": 8");
    QTest::newRow("type -1") << QVariant(vmap({{s("type"), -1}})) << s("\"type\": -1");
    QTest::newRow("type not a number")
        << QVariant(vmap({{s("type"), s("int")}})) << s("\"type\": \"int\"");
}

void TestConfigParametresGroup::wrongEntryWarned()
{
    QFETCH(QVariant, entry);
    QFETCH(QString, json);

    ConfigParametresGroup g(s("G"));
    g.addParameter(stringParam(s("old"), s("o")));
    {
        WarningCatcher catcher;
        g.parseMap(vmap({{s("a"), vmap({{s("type"), 4}, {s("val"), s("x")}})},
                         {s("m"), entry},
                         {s("z"), vmap({{s("type"), 2}, {s("val"), s("3")}})}}));

        const QList<WarningCatcher::Record> records = WarningCatcher::records();
        QCOMPARE(records.size(), 1);
        const WarningCatcher::Record &r = records.first();
        QCOMPARE(r.type, QtWarningMsg);
        QCOMPARE(r.category, s("default"));
        QCOMPARE(r.file, s("confighelper/configparametresgroup.cpp"));
        QCOMPARE(r.function,
                 s("virtual void ravix::ConfigParametresGroup::parseMap(const QVariantMap&)"));
        // The text, the debug stream's separating space, then the map as indented JSON.
        QVERIFY2(r.message.startsWith(s("WRONG CONFIG PARAMETER  ")), qPrintable(r.message));
        // The JSON lines are string items of the debug stream, so their quotes come escaped.
        QString unquoted = r.message;
        unquoted.replace(s("\\\""), s("\""));
        if (!json.isEmpty())
            QVERIFY2(unquoted.contains(json), qPrintable(r.message));
    }
    // The good entries are loaded around the bad one; the old member is gone.
    QCOMPARE(g.parameters().keys(), QStringList({s("a"), s("z")}));
    QCOMPARE(g[s("a")]->toString(), s("x"));
    QCOMPARE(g[s("z")]->toInt(), 3);
}

void TestConfigParametresGroup::invalidMembersKept()
{
    ConfigParametresGroup g(s("G"));
    g.parseMap(vmap({{s("a"), vmap({{s("type"), 7}, {s("key"), s("k")}})},
                     {s("b"), vmap({{s("type"), 4}, {s("val"), s("y")}})}}));
    QVERIFY(g.contains(s("a")));
    QVERIFY(g[s("a")]);
    QVERIFY(!g[s("a")]->isValid());
    QCOMPARE(g.toMap().keys(), QStringList{s("b")});

    // A group whose members are all invalid is still valid and writes an empty map.
    ConfigParametresGroup onlyInvalid(s("H"));
    onlyInvalid.setParameters({{s("a"), g[s("a")]}});
    QVERIFY(onlyInvalid.isValid());
    QVERIFY(onlyInvalid.toMap().isEmpty());

    // An empty nested group is kept too, but writes nothing.
    {
        WarningCatcher catcher; // for the nested group's own "type" entry
        g.parseMap(vmap({{s("n"), vmap({{s("type"), 1}})}}));
        QCOMPARE(WarningCatcher::records().size(), 1);
    }
    QVERIFY(g.contains(s("n")));
    QVERIFY(g.toMap().isEmpty());
}

void TestConfigParametresGroup::addParameter()
{
    ConfigParametresGroup g(s("G"));
    QVERIFY(!g.addParameter(ParamPtr()));
    QVERIFY(!g.addParameter(stringParam(QString(), s("x"))));
    QVERIFY(!g.addParameter(ParamPtr(new KeyValConfigParameter(s("kv")))));
    QVERIFY(g.parameters().isEmpty());

    const ParamPtr first = stringParam(s("a"), s("1"));
    const ParamPtr second = intParam(s("a"), 2);
    QVERIFY(g.addParameter(first));
    QVERIFY(g.addParameter(second));
    QCOMPARE(g.parameters().size(), 1);
    QCOMPARE(g[s("a")], second);
    QVERIFY(!g.addParameter(stringParam(QString(), s("x"))));
    QCOMPARE(g[s("a")], second);

    // operator[] never inserts.
    QVERIFY(!g[s("missing")]);
    QVERIFY(!g.contains(s("missing")));
    QCOMPARE(g.parameters().size(), 1);
}

void TestConfigParametresGroup::validityAndEquality()
{
    ConfigParametresGroup empty(s("G"));
    QVERIFY(!empty.isValid());
    QVERIFY(!empty.valueIsValid());
    QVERIFY(empty.toMap().isEmpty());

    ConfigParametresGroup unnamed;
    unnamed.addParameter(stringParam(s("a"), s("x")));
    QCOMPARE(unnamed.type(), AbstractConfigParameter::Group);
    QVERIFY(!unnamed.isValid());
    QVERIFY(unnamed.toMap().isEmpty());

    ConfigParametresGroup one(s("G"));
    one.addParameter(stringParam(s("a"), s("x")));
    ConfigParametresGroup other(s("G"));
    other.addParameter(intParam(s("b"), 1));
    QVERIFY(one.isValid());
    QVERIFY(one.valueIsValid());
    QVERIFY(one == other);
    QVERIFY(!(one != other));
    QVERIFY(one == empty);
    other.setName(s("H"));
    QVERIFY(one != other);

    // A group's map never carries a type, so parsing its own map back leaves the type alone.
    one.parseMap(one.toMap());
    QCOMPARE(one.type(), AbstractConfigParameter::Group);
}

void TestConfigParametresGroup::copiesCloneMembers_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("copy constructor") << 0;
    QTest::newRow("copy assignment") << 1;
    QTest::newRow("clone") << 2;
}

void TestConfigParametresGroup::copiesCloneMembers()
{
    QFETCH(int, how);

    ConfigParametresGroup original = sampleTree();
    const QVariantMap before = original.toMap();

    QSharedPointer<ConfigParametresGroup> copy;
    switch (how) {
    case 0:
        copy.reset(new ConfigParametresGroup(original));
        break;
    case 1:
        copy.reset(new ConfigParametresGroup(s("other")));
        copy->addParameter(intParam(s("zz"), 1));
        *copy = original;
        break;
    default:
        copy = original.clone().dynamicCast<ConfigParametresGroup>();
        break;
    }
    QVERIFY(copy);
    RAVIX_COMPARE_FIELDS(*copy, original);
    QVERIFY((*copy)[s("a")] != original[s("a")]);

    // Changes through the copy, also deep in the tree, stay in the copy.
    (*copy)[s("a")].dynamicCast<StringConfigParameter>()->setValue(s("changed"));
    auto nestedCopy = (*copy)[s("c")].dynamicCast<ConfigParametresGroup>();
    (*nestedCopy)[s("d")].dynamicCast<DoubleConfigParameter>()->setValue(9.0);
    RAVIX_COMPARE_STRICT(original.toMap(), before);

    // Changes through the group's own operator[] and parameters() are changes of the group.
    original[s("a")].dynamicCast<StringConfigParameter>()->setValue(s("mine"));
    original.parameters().value(s("b")).dynamicCast<IntConfigParameter<int>>()->setValue(6);
    QCOMPARE(original.toMap().value(s("a")).toMap().value(s("val")), QVariant(s("mine")));
    QCOMPARE(original.toMap().value(s("b")).toMap().value(s("val")), QVariant(s("6")));
    QCOMPARE((*copy)[s("a")]->toString(), s("changed"));

    // Assigning a group to itself keeps its members.
    ConfigParametresGroup &self = original;
    original = self;
    QCOMPARE(original.parameters().size(), 3);
}

void TestConfigParametresGroup::movesTakeMembers()
{
    ConfigParametresGroup source = sampleTree();
    const ParamPtr a = source[s("a")];

    ConfigParametresGroup moved(std::move(source));
    QCOMPARE(moved.name(), s("G"));
    QCOMPARE(moved[s("a")], a); // taken over, not cloned

    ConfigParametresGroup target(s("T"));
    const ParamPtr t = intParam(s("t"), 1);
    target.addParameter(t);
    target = std::move(moved);
    QCOMPARE(target.name(), s("G"));
    QCOMPARE(target[s("a")], a);
    // The move assignment exchanges the member maps.
    QCOMPARE(moved.parameters().keys(), QStringList{s("t")});
    QCOMPARE(moved[s("t")], t);
}

void TestConfigParametresGroup::nullAndRenamedMembers()
{
    // setParameters takes the map as it is, null members and keys that differ from names included.
    ConfigParametresGroup g(s("G"));
    g.setParameters({{s("null"), ParamPtr()}, {s("key"), stringParam(s("name"), s("v"))}});
    QVERIFY(g.isValid());
    QCOMPARE(g.toMap().keys(), QStringList{s("name")});
    QVERIFY(g.contains(s("key")));

    // Copies survive the null member and keep the keys.
    const ConfigParametresGroup copy(g);
    QCOMPARE(copy.parameters().keys(), QStringList({s("key"), s("null")}));
    QVERIFY(!copy[s("null")]);
    QCOMPARE(copy[s("key")]->name(), s("name"));
}

QTEST_GUILESS_MAIN(TestConfigParametresGroup)
#include "tst_configparametresgroup.moc"
