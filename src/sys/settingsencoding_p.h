// SPDX-License-Identifier: MIT
#pragma once

// The way the framework's settings store a variant in a string: plain strings as they are
// (a leading "@" doubled), everything else behind an "@Type(" prefix. Registry values
// written here must read back through the framework's own settings and the other way round.

#include <ravixcore/ravixcore_export.h>

#include <QString>
#include <QStringList>
#include <QVariant>

namespace ravix {
namespace swrw {

RAVIXCORE_EXPORT QString variantToString(const QVariant &v);
RAVIXCORE_EXPORT QVariant stringToVariant(const QString &s);
RAVIXCORE_EXPORT QStringList variantListToStringList(const QVariantList &l);
/// A string list, or a variant list when an element carries an encoded non-string value.
RAVIXCORE_EXPORT QVariant stringListToVariantList(const QStringList &l);

} // namespace swrw
} // namespace ravix
