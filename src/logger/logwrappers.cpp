// SPDX-License-Identifier: MIT
#include "logger/logwrappers.h"

#include <QJsonDocument>
#include <QObject>
#include <QTextCodec>
#include <QTextDecoder>

#include <memory>

namespace {

const int kIndent = 15;
const int kBytesPerLine = 16;

QByteArray codecNameOrSystem(const char *codec)
{
    return codec ? QByteArray(codec) : QByteArrayLiteral("System");
}

// An unknown code page name falls back to the local one rather than leaving no decoder at all.
QTextCodec *codecFor(const QByteArray &name)
{
    QTextCodec *codec = QTextCodec::codecForName(name);
    return codec ? codec : QTextCodec::codecForLocale();
}

// The text stream and the debug stream lay the dump out alike; the debug stream adds a space
// after every item by itself, so its fixed separators are one space shorter.
struct TextStreamDump
{
    QTextStream &s;
    void label(const QString &text, int size) { s << text << size << logtab; }
    void emptyNotice(const QString &text) { s << text << Qt::endl; }
    void hex(const QByteArray &pair) { s << pair << ' '; }
    void gap() { s << "   "; }
    void pad(int n) { s << QString(n, QLatin1Char(' ')); }
    void text(const QString &t) { s << t; }
    void newLine() { s << logtab; }
};

struct DebugDump
{
    QDebug &d;
    void label(const QString &text, int size) { d << text << size << logtab; }
    void emptyNotice(const QString &text) { d << text << &Qt::endl; }
    void hex(const QByteArray &pair) { d << pair; }
    // Separators and padding go in as plain C texts, which the debug stream never quotes:
    // only the hex pairs and the text column are items.
    void gap() { d << "  "; }
    void pad(int n) { d << QByteArray(n, ' ').constData(); }
    void text(const QString &t) { d << t; }
    void newLine() { d << &Qt::endl << QByteArray(kIndent - 1, ' ').constData(); }
};

template <class Out> void dumpBinary(const logbinary &v, Out &out)
{
    const QByteArray &data = v.data();
    out.label(QObject::tr("Bytearrray size = "), data.size());
    if (data.isEmpty()) {
        out.emptyNotice(QObject::tr("Byte array is empty"));
        return;
    }
    // One decoder for the whole dump keeps multi-byte characters that span two lines whole.
    std::unique_ptr<QTextDecoder> decoder(codecFor(v.codecName())->makeDecoder());
    for (int start = 0; start < data.size(); start += kBytesPerLine) {
        QByteArray line = data.mid(start, kBytesPerLine);
        const int n = line.size();
        for (int i = 0; i < n; ++i) {
            out.hex(QByteArray(1, line.at(i)).toHex());
            if (i == 7 || i == 15)
                out.gap();
            if (static_cast<unsigned char>(line.at(i)) < 0x20)
                line[i] = '.';
        }
        // The text column starts 54 characters after the indentation on every line.
        int padding = 0;
        if (n < 8)
            padding = (8 - n) * 3 + 30;
        else if (n < kBytesPerLine)
            padding = (17 - n) * 3;
        if (padding > 0)
            out.pad(padding);
        out.text(decoder->toUnicode(line));
        if (start + kBytesPerLine < data.size())
            out.newLine();
    }
}

QStringList splitLines(const QString &text)
{
    return text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
}

} // namespace

QTextStream &logtab(QTextStream &s)
{
    return s << Qt::endl << QString(kIndent, QLatin1Char(' '));
}

logbinary::logbinary(const QByteArray &data, const char *codec)
    : m_data(data), m_codecName(codecNameOrSystem(codec))
{
}

logencoded::logencoded(const QByteArray &data, const char *codec)
    : m_data(data), m_codecName(codecNameOrSystem(codec))
{
}

logencoded::logencoded(const char *text, const char *codec)
    : m_data(text ? QByteArray(text) : QByteArray()), m_codecName(codecNameOrSystem(codec))
{
}

QString logencoded::text() const
{
    QString text = codecFor(m_codecName)->toUnicode(m_data);
    const QString crlf = QStringLiteral("\r\n");
    while (text.contains(crlf))
        text.replace(crlf, QStringLiteral("\n"));
    return text;
}

loglist::loglist(const QStringList &list) : m_list(list) {}

logvariant::logvariant(const QVariant &value) : m_value(value) {}

QStringList logvariant::jsonLines() const
{
    const QByteArray json = QJsonDocument::fromVariant(m_value).toJson();
    return splitLines(QString::fromUtf8(json));
}

QTextStream &operator<<(QTextStream &s, const logbinary &v)
{
    TextStreamDump out{s};
    dumpBinary(v, out);
    return s;
}

QTextStream &operator<<(QTextStream &s, const logencoded &v)
{
    const QString text = v.text();
    if (text.contains(QLatin1Char('\n')))
        return s << loglist(splitLines(text));
    return s << text;
}

QTextStream &operator<<(QTextStream &s, const loglist &v)
{
    for (const QString &item : v.list())
        s << logtab << item;
    return s;
}

QTextStream &operator<<(QTextStream &s, const logvariant &v)
{
    return s << loglist(v.jsonLines());
}

QDebug operator<<(QDebug d, const logbinary &v)
{
    DebugDump out{d};
    dumpBinary(v, out);
    return d;
}

QDebug operator<<(QDebug d, const logencoded &v)
{
    QString rendered;
    {
        QTextStream s(&rendered);
        s << v;
    }
    d << rendered;
    return d;
}

QDebug operator<<(QDebug d, const loglist &v)
{
    for (const QString &item : v.list())
        d << logtab << item;
    return d;
}

QDebug operator<<(QDebug d, const logvariant &v)
{
    return d << loglist(v.jsonLines());
}
