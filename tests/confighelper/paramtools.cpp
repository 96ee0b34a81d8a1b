// SPDX-License-Identifier: MIT
#include "paramtools.h"

#include <ravixcore/confighelper/configparameters.h>
#include <ravixcore/confighelper/configparametresgroup.h>

#include <QDebug>

#include <cmath>
#include <typeinfo>

using namespace ravix;

namespace paramtools {

namespace {

QString describe(const QVariant &v)
{
    QString text;
    QDebug(&text) << v;
    return text;
}

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

bool sameDouble(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

template <typename P> const P *as(const AbstractConfigParameter &p)
{
    return dynamic_cast<const P *>(&p);
}

template <typename T>
bool sameInt(const IntConfigParameter<T> &a, const IntConfigParameter<T> &b, QString *why)
{
    if (a.value() != b.value())
        return fail(why, QStringLiteral("value %1 != %2").arg(a.value()).arg(b.value()));
    if (a.range() != b.range())
        return fail(why, QStringLiteral("range %1..%2 != %3..%4")
                             .arg(a.range().first)
                             .arg(a.range().second)
                             .arg(b.range().first)
                             .arg(b.range().second));
    if (a.enumerated() != b.enumerated())
        return fail(why, QStringLiteral("allowed values differ"));
    return true;
}

} // namespace

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

QVariantMap vmap(std::initializer_list<std::pair<QString, QVariant>> entries)
{
    QVariantMap m;
    for (const auto &e : entries)
        m.insert(e.first, e.second);
    return m;
}

bool strictEqual(const QVariant &a, const QVariant &b, QString *why)
{
    if (a.userType() != b.userType())
        return fail(why, QStringLiteral("type differs: %1 vs %2").arg(describe(a), describe(b)));
    if (a.userType() == QMetaType::QVariantMap) {
        const QVariantMap ma = a.toMap();
        const QVariantMap mb = b.toMap();
        if (ma.keys() != mb.keys())
            return fail(
                why, QStringLiteral("keys differ: %1 vs %2")
                         .arg(ma.keys().join(QLatin1Char(',')), mb.keys().join(QLatin1Char(','))));
        for (auto it = ma.cbegin(); it != ma.cend(); ++it) {
            QString inner;
            if (!strictEqual(it.value(), mb.value(it.key()), &inner))
                return fail(why, it.key() + QStringLiteral(": ") + inner);
        }
        return true;
    }
    if (a.userType() == QMetaType::QVariantList) {
        const QVariantList la = a.toList();
        const QVariantList lb = b.toList();
        if (la.size() != lb.size())
            return fail(
                why, QStringLiteral("list sizes differ: %1 vs %2").arg(describe(a), describe(b)));
        for (int i = 0; i < la.size(); ++i) {
            QString inner;
            if (!strictEqual(la.at(i), lb.at(i), &inner))
                return fail(why, QStringLiteral("[%1]: ").arg(i) + inner);
        }
        return true;
    }
    if (a.userType() == QMetaType::Double) {
        if (!sameDouble(a.toDouble(), b.toDouble()))
            return fail(why, QStringLiteral("%1 vs %2").arg(describe(a), describe(b)));
        return true;
    }
    if (a != b)
        return fail(why, QStringLiteral("%1 vs %2").arg(describe(a), describe(b)));
    return true;
}

bool sameFields(const AbstractConfigParameter &a, const AbstractConfigParameter &b, QString *why)
{
    if (typeid(a) != typeid(b))
        return fail(why, QStringLiteral("classes differ: %1 vs %2")
                             .arg(QString::fromLatin1(typeid(a).name()),
                                  QString::fromLatin1(typeid(b).name())));
    if (a.type() != b.type())
        return fail(why, QStringLiteral("type %1 != %2").arg(a.type()).arg(b.type()));
    if (a.name() != b.name())
        return fail(why, QStringLiteral("name '%1' != '%2'").arg(a.name(), b.name()));

    if (auto p = as<IntConfigParameter<int>>(a))
        return sameInt(*p, *as<IntConfigParameter<int>>(b), why);
    if (auto p = as<IntConfigParameter<qlonglong>>(a))
        return sameInt(*p, *as<IntConfigParameter<qlonglong>>(b), why);
    if (auto p = as<BytesConfigParameter>(a)) {
        if (p->value() != as<BytesConfigParameter>(b)->value())
            return fail(why, QStringLiteral("bytes differ"));
        return true;
    }
    if (auto p = as<DoubleConfigParameter>(a)) {
        auto q = as<DoubleConfigParameter>(b);
        if (!sameDouble(p->value(), q->value()) ||
            !sameDouble(p->range().first, q->range().first) ||
            !sameDouble(p->range().second, q->range().second))
            return fail(why, QStringLiteral("double %1 [%2..%3] != %4 [%5..%6]")
                                 .arg(p->value())
                                 .arg(p->range().first)
                                 .arg(p->range().second)
                                 .arg(q->value())
                                 .arg(q->range().first)
                                 .arg(q->range().second));
        return true;
    }
    if (auto p = as<StringConfigParameter>(a)) {
        auto q = as<StringConfigParameter>(b);
        if (p->value() != q->value() || p->enumerated() != q->enumerated())
            return fail(why, QStringLiteral("string '%1' != '%2' or allowed values differ")
                                 .arg(p->value(), q->value()));
        return true;
    }
    if (auto p = as<KeyValConfigParameter>(a)) {
        auto q = as<KeyValConfigParameter>(b);
        if (p->key() != q->key())
            return fail(why, QStringLiteral("key '%1' != '%2'").arg(p->key(), q->key()));
        return strictEqual(p->enumerated(), q->enumerated(), why);
    }
    if (auto p = as<ConfigParametresGroup>(a)) {
        const auto ma = p->parameters();
        const auto mb = as<ConfigParametresGroup>(b)->parameters();
        if (ma.keys() != mb.keys())
            return fail(
                why, QStringLiteral("member names differ: %1 vs %2")
                         .arg(ma.keys().join(QLatin1Char(',')), mb.keys().join(QLatin1Char(','))));
        for (auto it = ma.cbegin(); it != ma.cend(); ++it) {
            const ParamPtr other = mb.value(it.key());
            if (!it.value() || !other) {
                if (it.value() || other)
                    return fail(why, it.key() + QStringLiteral(": null member on one side"));
                continue;
            }
            QString inner;
            if (!sameFields(*it.value(), *other, &inner))
                return fail(why, it.key() + QStringLiteral(": ") + inner);
        }
        return true;
    }
    return fail(why, QStringLiteral("unknown parameter class"));
}

} // namespace paramtools
