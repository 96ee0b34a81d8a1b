// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QByteArray>
#include <QDebug>
#include <QStringList>
#include <QTextStream>
#include <QVariant>

// Wrappers that make binary data, foreign code pages, lists and structured values readable in
// log records. Continuation lines are indented by 15 spaces so that they line up under the
// message text of a record.

/// Writes a line break (flushing) and the 15-space indentation of a continuation line.
RAVIXCORE_EXPORT QTextStream &logtab(QTextStream &s);

/// A byte array printed as a hex dump, 16 bytes a line, with a text column decoded by a codec.
class RAVIXCORE_EXPORT logbinary
{
public:
    /// A null \a codec means the platform's local code page ("System").
    explicit logbinary(const QByteArray &data, const char *codec = nullptr);
    logbinary(const logbinary &other) = default;
    logbinary(logbinary &&other) noexcept = default;
    logbinary &operator=(const logbinary &other) = default;
    logbinary &operator=(logbinary &&other) noexcept = default;
    ~logbinary() = default;

    const QByteArray &data() const { return m_data; }
    const QByteArray &codecName() const { return m_codecName; }

private:
    QByteArray m_data;
    QByteArray m_codecName;
};

/// Text in a given code page; multi-line text prints one indented line per text line.
class RAVIXCORE_EXPORT logencoded
{
public:
    /// A null \a codec means the platform's local code page ("System").
    explicit logencoded(const QByteArray &data, const char *codec = nullptr);
    /// A zero-terminated text; a null \a text gives empty data.
    explicit logencoded(const char *text, const char *codec = nullptr);
    logencoded(const logencoded &other) = default;
    logencoded(logencoded &&other) noexcept = default;
    logencoded &operator=(const logencoded &other) = default;
    logencoded &operator=(logencoded &&other) noexcept = default;
    ~logencoded() = default;

    const QByteArray &data() const { return m_data; }
    const QByteArray &codecName() const { return m_codecName; }

    /// The decoded text with CR LF line ends turned into LF.
    QString text() const;

private:
    QByteArray m_data;
    QByteArray m_codecName;
};

/// A string list, one item on each indented line.
class RAVIXCORE_EXPORT loglist
{
public:
    explicit loglist(const QStringList &list);
    loglist(const loglist &other) = default;
    loglist(loglist &&other) noexcept = default;
    loglist &operator=(const loglist &other) = default;
    loglist &operator=(loglist &&other) noexcept = default;
    ~loglist() = default;

    const QStringList &list() const { return m_list; }

private:
    QStringList m_list;
};

/// A variant printed as indented JSON, one JSON line on each indented line.
class RAVIXCORE_EXPORT logvariant
{
public:
    explicit logvariant(const QVariant &value);
    logvariant(const logvariant &other) = default;
    logvariant(logvariant &&other) noexcept = default;
    logvariant &operator=(const logvariant &other) = default;
    logvariant &operator=(logvariant &&other) noexcept = default;
    ~logvariant() = default;

    const QVariant &value() const { return m_value; }

    /// The lines of the indented JSON form (the last one empty after the closing bracket).
    QStringList jsonLines() const;

private:
    QVariant m_value;
};

RAVIXCORE_EXPORT QTextStream &operator<<(QTextStream &s, const logbinary &v);
RAVIXCORE_EXPORT QTextStream &operator<<(QTextStream &s, const logencoded &v);
RAVIXCORE_EXPORT QTextStream &operator<<(QTextStream &s, const loglist &v);
RAVIXCORE_EXPORT QTextStream &operator<<(QTextStream &s, const logvariant &v);

RAVIXCORE_EXPORT QDebug operator<<(QDebug d, const logbinary &v);
RAVIXCORE_EXPORT QDebug operator<<(QDebug d, const logencoded &v);
RAVIXCORE_EXPORT QDebug operator<<(QDebug d, const loglist &v);
RAVIXCORE_EXPORT QDebug operator<<(QDebug d, const logvariant &v);
