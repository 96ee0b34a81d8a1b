// SPDX-License-Identifier: MIT
#pragma once

#include "sys/oslayer_p.h"
#include "sys/specwinregwrapper.h"

namespace ravix {
namespace swrw {

/// One registry key as settings, in a chosen view: the 64-bit view for the wrapper, the
/// process's own view (0) where the framework's native settings would be used.
class RAVIXCORE_EXPORT SpecWinRegWrapperPrivate
{
public:
    SpecWinRegWrapperPrivate(const QString &path, std::uint32_t view);
    ~SpecWinRegWrapperPrivate();

    SpecWinRegWrapperPrivate(const SpecWinRegWrapperPrivate &) = delete;
    SpecWinRegWrapperPrivate &operator=(const SpecWinRegWrapperPrivate &) = delete;

    bool hasRoot() const { return m_root != 0; }
    QString keyPath() const { return m_keyPath; }

    bool get(const QString &key, QVariant &value);
    void set(const QString &key, const QVariant &value);
    void remove(const QString &key);
    QStringList children(const QString &group, SpecWinRegWrapper::ChildSpec spec);
    void clear();
    void sync();
    bool isWritable();

private:
    oslayer::RegKey handle();
    void deleteChildGroups(oslayer::RegKey parent);
    QStringList childNames(oslayer::RegKey key, SpecWinRegWrapper::ChildSpec spec);
    void allKeys(oslayer::RegKey key, const QString &prefix, QStringList *out);
    QString message(long code);

    oslayer::OsLayer &m_os;
    std::uint32_t m_view;
    oslayer::RegKey m_root = 0;
    QString m_keyPath;
    oslayer::RegKey m_handle = 0;
    bool m_opened = false;
    bool m_readOnly = false;
};

} // namespace swrw
} // namespace ravix
