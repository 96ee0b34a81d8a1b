// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace ravix {
namespace swrw {

class SpecWinRegWrapperPrivate;

/// Reads and writes one registry subtree as key/value settings, always in the 64-bit
/// registry view, so that a 32-bit process reaches the real system keys rather than their
/// redirected copies. Key syntax, value types and the string encoding of variants are
/// those of the framework's native settings.
class RAVIXCORE_EXPORT SpecWinRegWrapper
{
public:
    enum ChildSpec { AllKeys, ChildKeys, ChildGroups };

    /// \a path starts with a root ("HKEY_LOCAL_MACHINE" or "HKLM", "HKEY_CURRENT_USER" or
    /// "HKCU", "HKEY_CLASSES_ROOT" or "HKCR", "HKEY_USERS" or "HKU"; case matters),
    /// optionally followed by "\" and a key path. Any other path gives a wrapper on which
    /// reads find nothing and writes do nothing.
    explicit SpecWinRegWrapper(const QString &path);
    ~SpecWinRegWrapper();

    SpecWinRegWrapper(const SpecWinRegWrapper &) = delete;
    SpecWinRegWrapper &operator=(const SpecWinRegWrapper &) = delete;

    /// Key names use "/" between groups; the unnamed value of a key is "Default".
    bool get(const QString &key, QVariant &value) const;
    void set(const QString &key, const QVariant &value);
    /// Deletes the value \a key and the subkey \a key with everything below it.
    void remove(const QString &key);
    QStringList children(const QString &group, ChildSpec spec) const;
    void clear();
    void sync();
    bool isWritable() const;

private:
    QScopedPointer<SpecWinRegWrapperPrivate> d;
};

} // namespace swrw
} // namespace ravix
