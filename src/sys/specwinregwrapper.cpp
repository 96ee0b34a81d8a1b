// SPDX-License-Identifier: MIT
#include "sys/specwinregwrapper.h"

#include "sys/settingsencoding_p.h"
#include "sys/specwinregwrapper_p.h"

#include <QtGlobal>

#include <algorithm>

namespace ravix {
namespace swrw {

using namespace oslayer;

namespace {

// Group names use "/", registry paths "\": the two trade places, so that a "/" inside a
// registry name survives as "\" in a settings key and the other way round.
QString swapSlashes(QString s)
{
    for (QChar &c : s) {
        if (c == QLatin1Char('/'))
            c = QLatin1Char('\\');
        else if (c == QLatin1Char('\\'))
            c = QLatin1Char('/');
    }
    return s;
}

QString registryPath(const QString &key)
{
    return swapSlashes(key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/')));
}

// Splits a settings key into the subkey path and the value name.
void splitKey(const QString &key, QString *subKey, QString *valueName)
{
    const QString rKey = registryPath(key);
    const int slash = rKey.lastIndexOf(QLatin1Char('\\'));
    *subKey = slash < 0 ? QString() : rKey.left(slash);
    *valueName = rKey.mid(slash + 1);
    // Exactly these two, as the framework's native settings map them: "default" is a name.
    if (*valueName == QLatin1String("Default") || *valueName == QLatin1String("."))
        valueName->clear();
}

Bytes utf16Bytes(const QString &s, int terminators)
{
    Bytes b;
    b.reserve(std::size_t(s.size() + terminators) * 2);
    for (const QChar c : s) {
        b.push_back(static_cast<unsigned char>(c.unicode() & 0xff));
        b.push_back(static_cast<unsigned char>(c.unicode() >> 8));
    }
    b.insert(b.end(), std::size_t(terminators) * 2, 0);
    return b;
}

QString utf16String(const Bytes &b)
{
    QString s;
    s.reserve(int(b.size() / 2));
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
        s.append(QChar(ushort(b[i] | (b[i + 1] << 8))));
    return s;
}

quint64 littleEndian(const Bytes &b, std::size_t width)
{
    quint64 v = 0;
    for (std::size_t i = 0; i < width && i < b.size(); ++i)
        v |= quint64(b[i]) << (8 * i);
    return v;
}

QVariant decodeValue(std::uint32_t type, const Bytes &data)
{
    switch (type) {
    case REG_TYPE_SZ:
    case REG_TYPE_EXPAND_SZ:
    {
        // Every reader ends a string value at its first zero, whatever follows it.
        QString s = utf16String(data);
        const int end = s.indexOf(QChar::Null);
        if (end >= 0)
            s.truncate(end);
        return stringToVariant(s);
    }
    case REG_TYPE_MULTI_SZ: {
        QStringList list;
        const QString all = utf16String(data);
        int start = 0;
        while (start < all.size()) {
            const int end = all.indexOf(QChar::Null, start);
            const QString item = all.mid(start, end < 0 ? -1 : end - start);
            if (item.isEmpty())
                break;
            list.append(item);
            if (end < 0)
                break;
            start = end + 1;
        }
        return stringListToVariantList(list);
    }
    case REG_TYPE_DWORD:
        return int(quint32(littleEndian(data, 4)));
    case REG_TYPE_DWORD_BIG_ENDIAN: {
        quint32 v = 0;
        for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
            v = (v << 8) | data[i];
        return int(v);
    }
    case REG_TYPE_QWORD:
        return qlonglong(littleEndian(data, 8));
    case REG_TYPE_BINARY:
    case REG_TYPE_NONE:
        return stringToVariant(utf16String(data));
    default:
        qWarning("QSettings: Unknown data %d type in Windows registry", int(type));
        return QVariant();
    }
}

void encodeValue(const QVariant &value, std::uint32_t *type, Bytes *data)
{
    switch (int(value.type())) {
    case QVariant::Int:
    case QVariant::UInt:
        *type = REG_TYPE_DWORD;
        *data = dwordBytes(value.toUInt());
        return;
    case QVariant::LongLong:
    case QVariant::ULongLong:
        *type = REG_TYPE_QWORD;
        *data = qwordBytes(value.toULongLong());
        return;
    case QVariant::StringList:
    case QVariant::List: {
        // A multi-string cannot hold an empty element nor be empty, and a zero inside an
        // element would split it in two when read back; those lists go whole, encoded, into a
        // binary value of raw UTF-16, as a string with a zero does: a string value would end
        // at the encoding's first zero for every other reader.
        const QStringList items = variantListToStringList(value.toList());
        const bool zeroInside = std::any_of(items.cbegin(), items.cend(), [](const QString &item) {
            return item.contains(QChar::Null);
        });
        if (!items.isEmpty() && !items.contains(QString()) && !zeroInside) {
            *type = REG_TYPE_MULTI_SZ;
            data->clear();
            for (const QString &item : items) {
                const Bytes b = utf16Bytes(item, 1);
                data->insert(data->end(), b.begin(), b.end());
            }
            data->push_back(0);
            data->push_back(0);
            return;
        }
        *type = REG_TYPE_BINARY;
        *data = utf16Bytes(variantToString(value), 0);
        return;
    }
    default:
        break;
    }
    const QString s = variantToString(value);
    if (s.contains(QChar::Null)) {
        *type = REG_TYPE_BINARY;
        *data = utf16Bytes(s, 0);
    } else {
        *type = REG_TYPE_SZ;
        *data = utf16Bytes(s, 1);
    }
}

struct RootName
{
    const char *name;
    RegKey root;
};

const RootName ROOTS[] = {
    {"HKEY_CURRENT_USER", REG_ROOT_CURRENT_USER},
    {"HKCU", REG_ROOT_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", REG_ROOT_LOCAL_MACHINE},
    {"HKLM", REG_ROOT_LOCAL_MACHINE},
    {"HKEY_CLASSES_ROOT", REG_ROOT_CLASSES_ROOT},
    {"HKCR", REG_ROOT_CLASSES_ROOT},
    {"HKEY_USERS", REG_ROOT_USERS},
    {"HKU", REG_ROOT_USERS},
};

} // namespace

SpecWinRegWrapperPrivate::SpecWinRegWrapperPrivate(const QString &path, std::uint32_t view)
    : m_os(OsLayer::current()), m_view(view)
{
    QString p = path;
    if (p.startsWith(QLatin1Char('\\')))
        p.remove(0, 1);
    for (const RootName &r : ROOTS) {
        const QLatin1String name(r.name);
        if (!p.startsWith(name))
            continue;
        const QString rest = p.mid(name.size());
        if (!rest.isEmpty() && rest.at(0) != QLatin1Char('\\'))
            continue;
        m_root = r.root;
        m_keyPath = rest.mid(1);
        while (m_keyPath.endsWith(QLatin1Char('\\')))
            m_keyPath.chop(1);
        break;
    }
}

SpecWinRegWrapperPrivate::~SpecWinRegWrapperPrivate()
{
    if (m_handle)
        m_os.regCloseKey(m_handle);
}

QString SpecWinRegWrapperPrivate::message(long code)
{
    return QString::fromStdWString(m_os.errorMessage(code));
}

RegKey SpecWinRegWrapperPrivate::handle()
{
    if (m_opened)
        return m_handle;
    m_opened = true;
    if (!m_root)
        return 0;
    const std::wstring path = m_keyPath.toStdWString();
    if (m_os.regCreateKey(m_root, path, REG_KEY_ALL_ACCESS | m_view, &m_handle) == OS_ERROR_SUCCESS)
        return m_handle;
    m_readOnly = true;
    if (m_os.regOpenKey(m_root, path, REG_KEY_READ | m_view, &m_handle) != OS_ERROR_SUCCESS)
        m_handle = 0;
    return m_handle;
}

bool SpecWinRegWrapperPrivate::get(const QString &key, QVariant &value)
{
    const RegKey h = handle();
    if (!h)
        return false;
    QString subKey, name;
    splitKey(key, &subKey, &name);
    RegKey sub = h;
    if (!subKey.isEmpty() &&
        m_os.regOpenKey(h, subKey.toStdWString(), REG_KEY_READ | m_view, &sub) != OS_ERROR_SUCCESS)
        return false;
    std::uint32_t type = 0;
    Bytes data;
    const long rc = m_os.regQueryValue(sub, name.toStdWString(), &type, &data);
    if (sub != h)
        m_os.regCloseKey(sub);
    if (rc != OS_ERROR_SUCCESS)
        return false;
    value = decodeValue(type, data);
    return true;
}

void SpecWinRegWrapperPrivate::set(const QString &key, const QVariant &value)
{
    const RegKey h = handle();
    if (!h || m_readOnly)
        return;
    QString subKey, name;
    splitKey(key, &subKey, &name);
    RegKey sub = h;
    if (!subKey.isEmpty()) {
        const long rc =
            m_os.regCreateKey(h, subKey.toStdWString(), REG_KEY_ALL_ACCESS | m_view, &sub);
        if (rc != OS_ERROR_SUCCESS) {
            qWarning("QSettings: failed to set subkey \"%s\": %s", qPrintable(subKey),
                     qPrintable(message(rc)));
            return;
        }
    }
    std::uint32_t type = 0;
    Bytes data;
    encodeValue(value, &type, &data);
    const long rc = m_os.regSetValue(sub, name.toStdWString(), type, data);
    if (rc != OS_ERROR_SUCCESS)
        qWarning("QSettings: failed to set subkey \"%s\": %s", qPrintable(registryPath(key)),
                 qPrintable(message(rc)));
    if (sub != h)
        m_os.regCloseKey(sub);
}

QStringList SpecWinRegWrapperPrivate::childNames(RegKey key, SpecWinRegWrapper::ChildSpec spec)
{
    QStringList names;
    std::uint32_t subKeys = 0, values = 0;
    long rc = m_os.regQueryInfoKey(key, &subKeys, &values);
    if (rc != OS_ERROR_SUCCESS) {
        qWarning("QSettings: RegQueryInfoKey() failed: %s", qPrintable(message(rc)));
        return names;
    }
    const bool valueNames = spec == SpecWinRegWrapper::ChildKeys;
    const std::uint32_t count = valueNames ? values : subKeys;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::wstring name;
        rc = valueNames ? m_os.regEnumValue(key, i, &name) : m_os.regEnumKey(key, i, &name);
        if (rc != OS_ERROR_SUCCESS) {
            qWarning("QSettings: RegEnumValue failed: %s", qPrintable(message(rc)));
            continue;
        }
        names.append(QString::fromStdWString(name));
    }
    return names;
}

void SpecWinRegWrapperPrivate::allKeys(RegKey key, const QString &prefix, QStringList *out)
{
    const QStringList values = childNames(key, SpecWinRegWrapper::ChildKeys);
    for (const QString &v : values)
        out->append(prefix + (v.isEmpty() ? QStringLiteral("Default") : swapSlashes(v)));
    const QStringList groups = childNames(key, SpecWinRegWrapper::ChildGroups);
    for (const QString &g : groups) {
        RegKey sub = 0;
        if (m_os.regOpenKey(key, g.toStdWString(), REG_KEY_READ | m_view, &sub) != OS_ERROR_SUCCESS)
            continue;
        allKeys(sub, prefix + swapSlashes(g) + QLatin1Char('/'), out);
        m_os.regCloseKey(sub);
    }
}

QStringList SpecWinRegWrapperPrivate::children(const QString &group,
                                               SpecWinRegWrapper::ChildSpec spec)
{
    QStringList result;
    const RegKey h = handle();
    if (!h)
        return result;
    const QString rGroup = registryPath(group);
    RegKey key = h;
    if (!rGroup.isEmpty() &&
        m_os.regOpenKey(h, rGroup.toStdWString(), REG_KEY_READ | m_view, &key) != OS_ERROR_SUCCESS)
        return result;
    if (spec == SpecWinRegWrapper::AllKeys) {
        allKeys(key, QString(), &result);
    } else {
        const QStringList names = childNames(key, spec);
        for (const QString &n : names)
            result.append(n.isEmpty() && spec == SpecWinRegWrapper::ChildKeys
                              ? QStringLiteral("Default")
                              : swapSlashes(n));
    }
    if (key != h)
        m_os.regCloseKey(key);
    return result;
}

void SpecWinRegWrapperPrivate::deleteChildGroups(RegKey parent)
{
    const QStringList groups = childNames(parent, SpecWinRegWrapper::ChildGroups);
    for (const QString &group : groups) {
        RegKey child = 0;
        if (m_os.regOpenKey(parent, group.toStdWString(), REG_KEY_ALL_ACCESS | m_view, &child) !=
            OS_ERROR_SUCCESS)
            continue;
        deleteChildGroups(child);
        m_os.regCloseKey(child);
        const long rc = m_os.regDeleteKey(parent, group.toStdWString(), m_view);
        if (rc != OS_ERROR_SUCCESS) {
            qWarning("QSettings: RegDeleteKey failed on subkey \"%s\": %s", qPrintable(group),
                     qPrintable(message(rc)));
            return;
        }
    }
}

void SpecWinRegWrapperPrivate::remove(const QString &key)
{
    const RegKey h = handle();
    if (!h || m_readOnly)
        return;
    // First the value of that name...
    QString subKey, name;
    splitKey(key, &subKey, &name);
    RegKey sub = h;
    if (subKey.isEmpty() || m_os.regOpenKey(h, subKey.toStdWString(), REG_KEY_ALL_ACCESS | m_view,
                                            &sub) == OS_ERROR_SUCCESS) {
        m_os.regDeleteValue(sub, name.toStdWString());
        if (sub != h)
            m_os.regCloseKey(sub);
    }
    // ...then the subkey of that name with everything below it.
    const QString rKey = registryPath(key);
    RegKey target = h;
    if (!rKey.isEmpty() && m_os.regOpenKey(h, rKey.toStdWString(), REG_KEY_ALL_ACCESS | m_view,
                                           &target) != OS_ERROR_SUCCESS)
        return;
    deleteChildGroups(target);
    if (rKey.isEmpty()) {
        const QStringList values = childNames(target, SpecWinRegWrapper::ChildKeys);
        for (const QString &v : values) {
            const long rc = m_os.regDeleteValue(target, v.toStdWString());
            if (rc != OS_ERROR_SUCCESS)
                qWarning("QSettings: RegDeleteValue failed on subkey \"%s\": %s", qPrintable(v),
                         qPrintable(message(rc)));
        }
        return;
    }
    m_os.regCloseKey(target);
    const long rc = m_os.regDeleteKey(h, rKey.toStdWString(), m_view);
    if (rc != OS_ERROR_SUCCESS)
        qWarning("QSettings: RegDeleteKey failed on key \"%s\": %s", qPrintable(rKey),
                 qPrintable(message(rc)));
}

void SpecWinRegWrapperPrivate::clear()
{
    remove(QString());
}

void SpecWinRegWrapperPrivate::sync()
{
    if (const RegKey h = handle())
        m_os.regFlushKey(h);
}

bool SpecWinRegWrapperPrivate::isWritable()
{
    return handle() != 0 && !m_readOnly;
}

// ---------------------------------------------------------------------------------------

SpecWinRegWrapper::SpecWinRegWrapper(const QString &path)
    : d(new SpecWinRegWrapperPrivate(path, REG_KEY_WOW64_64KEY))
{
}

SpecWinRegWrapper::~SpecWinRegWrapper() = default;

bool SpecWinRegWrapper::get(const QString &key, QVariant &value) const
{
    return d->get(key, value);
}

void SpecWinRegWrapper::set(const QString &key, const QVariant &value)
{
    d->set(key, value);
}

void SpecWinRegWrapper::remove(const QString &key)
{
    d->remove(key);
}

QStringList SpecWinRegWrapper::children(const QString &group, ChildSpec spec) const
{
    return d->children(group, spec);
}

void SpecWinRegWrapper::clear()
{
    d->clear();
}

void SpecWinRegWrapper::sync()
{
    d->sync();
}

bool SpecWinRegWrapper::isWritable() const
{
    return d->isWritable();
}

} // namespace swrw
} // namespace ravix
