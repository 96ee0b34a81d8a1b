// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/confighelper/abstractconfigparameter.h>

#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <initializer_list>
#include <utility>

using ParamPtr = QSharedPointer<ravix::AbstractConfigParameter>;
Q_DECLARE_METATYPE(ParamPtr)

namespace paramtools {

QString s(const char *text); // UTF-8 literal
QVariantMap vmap(std::initializer_list<std::pair<QString, QVariant>> entries);

// Equal values of equal variant types, maps and lists compared element by element. QVariant's own
// operator== converts between types, which would hide a number written as int instead of text.
bool strictEqual(const QVariant &a, const QVariant &b, QString *why = nullptr);

// Same dynamic class and every member equal (values, ranges, allowed values, group members by
// their fields), NaN equal to NaN.
bool sameFields(const ravix::AbstractConfigParameter &a, const ravix::AbstractConfigParameter &b,
                QString *why = nullptr);

} // namespace paramtools

// Fails the current test with the reason when the two variants differ.
#define RAVIX_COMPARE_STRICT(actual, expected)                                                     \
    do {                                                                                           \
        QString why_;                                                                              \
        if (!paramtools::strictEqual(QVariant(actual), QVariant(expected), &why_))                 \
            QFAIL(qPrintable(why_));                                                               \
    } while (false)

#define RAVIX_COMPARE_FIELDS(actual, expected)                                                     \
    do {                                                                                           \
        QString why_;                                                                              \
        if (!paramtools::sameFields((actual), (expected), &why_))                                  \
            QFAIL(qPrintable(why_));                                                               \
    } while (false)
