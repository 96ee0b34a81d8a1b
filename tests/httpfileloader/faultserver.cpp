// SPDX-License-Identifier: MIT
#include "faultserver.h"

#include <QSslSocket>

FaultServer::FaultServer(const QByteArray &content, QObject *parent)
    : QTcpServer(parent), m_content(content)
{
    m_handler = [this](const Request &req, int) { return rangeAnswer(m_content, req); };
}

FaultServer::~FaultServer()
{
    for (const QPointer<QTcpSocket> &s : qAsConst(m_sockets))
        delete s.data();
}

bool FaultServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

void FaultServer::setTls(const QSslCertificate &cert, const QSslKey &key)
{
    m_cert = cert;
    m_key = key;
}

QString FaultServer::url(const QString &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_cert.isNull() ? QStringLiteral("http") : QStringLiteral("https"))
        .arg(serverPort())
        .arg(path);
}

void FaultServer::incomingConnection(qintptr handle)
{
    ++connections;
    QTcpSocket *socket = nullptr;
    if (m_cert.isNull()) {
        socket = new QTcpSocket(this);
        socket->setSocketDescriptor(handle);
    } else {
        auto *ssl = new QSslSocket(this);
        ssl->setSocketDescriptor(handle);
        ssl->setLocalCertificate(m_cert);
        ssl->setPrivateKey(m_key);
        ssl->startServerEncryption();
        socket = ssl;
    }
    m_sockets.append(socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { feedEndless(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (socket->property("stalled").toBool())
            ++stalledClosed;
        m_buffers.remove(socket);
        socket->deleteLater();
    });
}

void FaultServer::onReadyRead(QTcpSocket *socket)
{
    m_buffers[socket] += socket->readAll();
    while (answerNext(socket)) {
    }
}

// Answers the first complete request in the socket's buffer; false when there is none.
bool FaultServer::answerNext(QTcpSocket *socket)
{
    QByteArray &buf = m_buffers[socket];
    const int end = buf.indexOf("\r\n\r\n");
    if (end < 0 || socket->property("done").toBool())
        return false;
    const QList<QByteArray> lines = buf.left(end).split('\n');
    buf.remove(0, end + 4);
    Request req;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    req.method = first.value(0);
    req.path = first.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            req.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                               lines.at(i).mid(colon + 1).trimmed());
    }
    requests.append(req);
    const Answer answer = m_handler(req, requests.size() - 1);
    socket->write(answer.bytes);
    if (answer.endless > 0) {
        socket->setProperty("endlessLeft", answer.endless);
        socket->setProperty("endlessSent", qint64(0));
        socket->setProperty("done", true);
        feedEndless(socket);
        emit requestReceived();
        return false;
    }
    if (answer.stall || answer.close)
        socket->setProperty("done", true);
    if (answer.stall)
        socket->setProperty("stalled", true);
    else if (answer.close)
        socket->disconnectFromHost();
    emit requestReceived();
    return !answer.stall && !answer.close;
}

void FaultServer::feedEndless(QTcpSocket *socket)
{
    qint64 left = socket->property("endlessLeft").toLongLong();
    if (left <= 0 || socket->state() != QAbstractSocket::ConnectedState)
        return;
    static const QByteArray filler(256 * 1024, 'z');
    // Counts what was handed to the socket, keeping about a megabyte queued there.
    qint64 queued = 0;
    while (left > 0 && socket->bytesToWrite() < 1024 * 1024) {
        const QByteArray chunk = filler.left(int(qMin<qint64>(left, filler.size())));
        socket->write(chunk);
        left -= chunk.size();
        queued += chunk.size();
    }
    const qint64 sent = socket->property("endlessSent").toLongLong() + queued;
    socket->setProperty("endlessSent", sent);
    socket->setProperty("endlessLeft", left);
    endlessSent = qMax(endlessSent, sent);
    if (left == 0)
        socket->disconnectFromHost();
}

FaultServer::Answer FaultServer::raw(const QByteArray &statusLine, const QList<QByteArray> &headers,
                                     const QByteArray &body)
{
    QByteArray bytes = "HTTP/1.1 " + statusLine + "\r\n";
    for (const QByteArray &h : headers)
        bytes += h + "\r\n";
    bytes += "\r\n" + body;
    Answer a;
    a.bytes = bytes;
    return a;
}

FaultServer::Answer FaultServer::rangeAnswer(const QByteArray &content, const Request &req)
{
    const QByteArray range = req.header("range");
    const QByteArray size = QByteArray::number(content.size());
    if (!range.startsWith("bytes="))
        return raw("200 OK", {"Content-Length: " + size}, content);
    const QList<QByteArray> bounds = range.mid(6).split('-');
    const qint64 first = bounds.value(0).toLongLong();
    qint64 last = bounds.value(1).isEmpty() ? content.size() - 1 : bounds.value(1).toLongLong();
    if (first >= content.size())
        return raw("416 Range Not Satisfiable",
                   {"Content-Range: bytes */" + size, "Content-Length: 0"});
    last = qMin<qint64>(last, content.size() - 1);
    const QByteArray body = content.mid(int(first), int(last - first + 1));
    return raw("206 Partial Content",
               {"Content-Length: " + QByteArray::number(body.size()),
                "Content-Range: bytes " + QByteArray::number(first) + "-" +
                    QByteArray::number(last) + "/" + size},
               body);
}

char FaultServer::generatedByte(qint64 offset)
{
    // Every byte of the offset counts, so data written at a wrapped offset shows.
    quint64 x = quint64(offset) * 0x9E3779B97F4A7C15ull;
    return char(x >> 56);
}

QByteArray FaultServer::generatedBytes(qint64 offset, int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        bytes[i] = generatedByte(offset + i);
    return bytes;
}

FaultServer::Answer FaultServer::generatedRangeAnswer(qint64 size, const Request &req)
{
    const QByteArray total = QByteArray::number(size);
    const QList<QByteArray> bounds = req.header("range").mid(6).split('-');
    bool firstOk = false, lastOk = false;
    const qint64 first = bounds.value(0).toLongLong(&firstOk);
    qint64 last = bounds.value(1).toLongLong(&lastOk);
    if (!req.header("range").startsWith("bytes=") || !firstOk || !lastOk || first < 0 ||
        first >= size || last < first)
        return raw("416 Range Not Satisfiable",
                   {"Content-Range: bytes */" + total, "Content-Length: 0"});
    last = qMin(last, size - 1);
    const QByteArray body = generatedBytes(first, int(last - first + 1));
    return raw("206 Partial Content",
               {"Content-Length: " + QByteArray::number(body.size()),
                "Content-Range: bytes " + QByteArray::number(first) + "-" +
                    QByteArray::number(last) + "/" + total},
               body);
}
