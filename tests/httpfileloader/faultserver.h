// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// A small HTTP server on 127.0.0.1 whose answers the test chooses request by request, to
// inject the faults a real server rarely shows. By default it serves content with ranges,
// like a well-behaved server. Connections are kept open for further requests unless an answer
// asks to close them.
class FaultServer : public QTcpServer
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray header(const char *name) const { return headers.value(QByteArray(name)); }
    };
    struct Answer
    {
        QByteArray bytes;
        bool stall = false; // send bytes, then keep the connection open and say nothing more
        bool close = false; // close the connection after the bytes (ends a body without length)
        // After the bytes, this many filler bytes more, sent as fast as the client takes them;
        // then the connection is closed. Stands for a body that never ends.
        qint64 endless = 0;
    };
    // Returns the answer to request number index (0-based).
    using Handler = std::function<Answer(const Request &, int index)>;

    explicit FaultServer(const QByteArray &content = QByteArray(), QObject *parent = nullptr);
    ~FaultServer() override;

    bool start();
    // With a certificate and key, connections speak TLS.
    void setTls(const QSslCertificate &cert, const QSslKey &key);
    QString url(const QString &path = QStringLiteral("/file.bin")) const;
    void setHandler(Handler handler) { m_handler = std::move(handler); }

    QList<Request> requests;
    int connections = 0;
    // Stalled connections the client has closed.
    int stalledClosed = 0;
    // The most filler bytes one endless answer got out before the client went away.
    qint64 endlessSent = 0;

    // The answer of a well-behaved server: 206 with Content-Range, or 416 past the end.
    static Answer rangeAnswer(const QByteArray &content, const Request &req);
    // The same for a file of the given size whose byte at offset i is generatedByte(i), so
    // files of any size can be served without holding them.
    static Answer generatedRangeAnswer(qint64 size, const Request &req);
    static char generatedByte(qint64 offset);
    static QByteArray generatedBytes(qint64 offset, int count);
    // Status line, the given header lines, then the body; the connection stays open.
    static Answer raw(const QByteArray &statusLine, const QList<QByteArray> &headers,
                      const QByteArray &body = QByteArray());

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr handle) override;

private:
    void onReadyRead(QTcpSocket *socket);
    bool answerNext(QTcpSocket *socket);
    void feedEndless(QTcpSocket *socket);

    QByteArray m_content;
    Handler m_handler;
    QSslCertificate m_cert;
    QSslKey m_key;
    QMap<QTcpSocket *, QByteArray> m_buffers;
    QList<QPointer<QTcpSocket>> m_sockets;
};
