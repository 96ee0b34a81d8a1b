// SPDX-License-Identifier: MIT
#pragma once

#include "sys/emulatedwindows_p.h"

#include <QString>
#include <QStringList>

namespace ravixtest {

// The emulated Windows as this process's OS layer; null when another backend came first.
inline ravix::oslayer::EmulatedWindows *emulatedWindows()
{
    static ravix::oslayer::EmulatedWindows *emulated = [] {
        auto backend = std::make_unique<ravix::oslayer::EmulatedWindows>();
        ravix::oslayer::EmulatedWindows *raw = backend.get();
        return ravix::oslayer::OsLayer::select(std::move(backend)) ? raw : nullptr;
    }();
    return emulated;
}

inline QStringList toStringList(const std::vector<std::wstring> &v)
{
    QStringList out;
    for (const std::wstring &s : v)
        out.append(QString::fromStdWString(s));
    return out;
}

// Commands started, one line each ("netsh firewall add ...").
inline QStringList commandLines(const ravix::oslayer::EmulatedWindows &w)
{
    QStringList out;
    for (const auto &c : w.commands())
        out.append(QString::fromStdWString(c.line()));
    return out;
}

// A raw registry value as the system stores it, read in the given view.
struct RawValue
{
    long rc = -1;
    std::uint32_t type = 0;
    ravix::oslayer::Bytes data;
};

inline RawValue rawValue(ravix::oslayer::OsLayer &os, ravix::oslayer::RegKey root,
                         const QString &key, const QString &name, std::uint32_t view)
{
    RawValue v;
    ravix::oslayer::RegKey h = 0;
    v.rc = os.regOpenKey(root, key.toStdWString(), ravix::oslayer::REG_KEY_READ | view, &h);
    if (v.rc != 0)
        return v;
    v.rc = os.regQueryValue(h, name.toStdWString(), &v.type, &v.data);
    os.regCloseKey(h);
    return v;
}

inline long writeRaw(ravix::oslayer::OsLayer &os, ravix::oslayer::RegKey root, const QString &key,
                     const QString &name, std::uint32_t type, const ravix::oslayer::Bytes &data,
                     std::uint32_t view)
{
    ravix::oslayer::RegKey h = 0;
    long rc =
        os.regCreateKey(root, key.toStdWString(), ravix::oslayer::REG_KEY_ALL_ACCESS | view, &h);
    if (rc != 0)
        return rc;
    rc = os.regSetValue(h, name.toStdWString(), type, data);
    os.regCloseKey(h);
    return rc;
}

inline ravix::oslayer::Bytes utf16z(const QString &s)
{
    ravix::oslayer::Bytes b;
    for (QChar c : s) {
        b.push_back(static_cast<unsigned char>(c.unicode() & 0xff));
        b.push_back(static_cast<unsigned char>(c.unicode() >> 8));
    }
    b.push_back(0);
    b.push_back(0);
    return b;
}

} // namespace ravixtest
