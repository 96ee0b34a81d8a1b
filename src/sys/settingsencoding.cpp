// SPDX-License-Identifier: MIT
#include "sys/settingsencoding_p.h"

#include <QDataStream>
#include <QDateTime>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace ravix {
namespace swrw {

namespace {

QString wrapBytes(const char *prefix, const QByteArray &a)
{
    return QLatin1String(prefix) + QLatin1String(a.constData(), a.size()) + QLatin1Char(')');
}

QList<int> numbers(const QString &s)
{
    QList<int> result;
    const QStringList parts = s.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &p : parts)
        result.append(p.toInt());
    return result;
}

} // namespace

QString variantToString(const QVariant &v)
{
    switch (int(v.type())) {
    case QVariant::Invalid:
        return QStringLiteral("@Invalid()");
    case QVariant::ByteArray:
        return wrapBytes("@ByteArray(", v.toByteArray());
    case QVariant::String:
    case QVariant::LongLong:
    case QVariant::ULongLong:
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::Bool:
    case QVariant::Double: {
        QString result = v.toString();
        if (result.contains(QChar::Null))
            result = QLatin1String("@String(") + result + QLatin1Char(')');
        else if (result.startsWith(QLatin1Char('@')))
            result.prepend(QLatin1Char('@'));
        return result;
    }
    case QVariant::Rect: {
        const QRect r = v.toRect();
        return QStringLiteral("@Rect(%1 %2 %3 %4)")
            .arg(r.x())
            .arg(r.y())
            .arg(r.width())
            .arg(r.height());
    }
    case QVariant::Size: {
        const QSize s = v.toSize();
        return QStringLiteral("@Size(%1 %2)").arg(s.width()).arg(s.height());
    }
    case QVariant::Point: {
        const QPoint p = v.toPoint();
        return QStringLiteral("@Point(%1 %2)").arg(p.x()).arg(p.y());
    }
    default: {
        // Date-times keep their time spec only in the newer stream format.
        const bool dateTime = v.userType() == QMetaType::QDateTime;
        QByteArray a;
        {
            QDataStream s(&a, QIODevice::WriteOnly);
            s.setVersion(dateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
            s << v;
        }
        return wrapBytes(dateTime ? "@DateTime(" : "@Variant(", a);
    }
    }
}

QVariant stringToVariant(const QString &s)
{
    if (!s.startsWith(QLatin1Char('@')))
        return s;
    if (s.endsWith(QLatin1Char(')'))) {
        if (s.startsWith(QLatin1String("@ByteArray(")))
            return s.mid(11, s.size() - 12).toLatin1();
        if (s.startsWith(QLatin1String("@String(")))
            return s.mid(8, s.size() - 9);
        const bool variant = s.startsWith(QLatin1String("@Variant("));
        if (variant || s.startsWith(QLatin1String("@DateTime("))) {
            const int skip = variant ? 9 : 10;
            QByteArray a = s.mid(skip, s.size() - skip - 1).toLatin1();
            QDataStream stream(&a, QIODevice::ReadOnly);
            stream.setVersion(variant ? QDataStream::Qt_4_0 : QDataStream::Qt_5_6);
            QVariant result;
            stream >> result;
            return result;
        }
        if (s.startsWith(QLatin1String("@Rect("))) {
            const QList<int> n = numbers(s.mid(6, s.size() - 7));
            if (n.size() == 4)
                return QRect(n[0], n[1], n[2], n[3]);
        } else if (s.startsWith(QLatin1String("@Size("))) {
            const QList<int> n = numbers(s.mid(6, s.size() - 7));
            if (n.size() == 2)
                return QSize(n[0], n[1]);
        } else if (s.startsWith(QLatin1String("@Point("))) {
            const QList<int> n = numbers(s.mid(7, s.size() - 8));
            if (n.size() == 2)
                return QPoint(n[0], n[1]);
        } else if (s == QLatin1String("@Invalid()")) {
            return QVariant();
        }
    }
    if (s.startsWith(QLatin1String("@@")))
        return s.mid(1);
    return s;
}

QStringList variantListToStringList(const QVariantList &l)
{
    QStringList result;
    result.reserve(l.size());
    for (const QVariant &v : l)
        result.append(variantToString(v));
    return result;
}

QVariant stringListToVariantList(const QStringList &l)
{
    QStringList strings = l;
    for (QString &s : strings) {
        if (!s.startsWith(QLatin1Char('@')))
            continue;
        if (s.size() >= 2 && s.at(1) == QLatin1Char('@')) {
            s.remove(0, 1);
            continue;
        }
        QVariantList variants;
        variants.reserve(l.size());
        for (const QString &e : l)
            variants.append(stringToVariant(e));
        return variants;
    }
    return strings;
}

} // namespace swrw
} // namespace ravix
