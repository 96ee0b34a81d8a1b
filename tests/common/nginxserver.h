// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace ravixtest {

// A private nginx serving one folder on a free 127.0.0.1 port, for tests that need a real HTTP
// or HTTPS server. Its configuration, pid file, logs and temporary folders live in a temporary
// directory of its own; it runs in the foreground as a child of the test and as the current user.
// The destructor stops it.
//
//     NginxServer nginx;
//     if (!nginx.start(docroot))
//         QFAIL(qPrintable(nginx.errorString()));
//     const QString url = nginx.url("/file.bin");
class NginxServer
{
public:
    NginxServer();
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // Starts serving docroot; with a certificate and key the server speaks HTTPS only.
    // False with errorString() set when nginx is missing or does not come up.
    bool start(const QString &docroot, const QString &sslCert = QString(),
               const QString &sslKey = QString());
    // Stops the server and waits for it; harmless when it is not running.
    void stop();
    bool isRunning() const;

    // "http://127.0.0.1:<port><path>" (https with a certificate); path starts with '/'.
    QString url(const QString &path) const;
    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }
    // The server's access and error logs. A request is logged just after its answer went
    // out, so a client may see the answer first: wait for a line rather than read once.
    QString accessLogPath() const;
    QByteArray accessLog() const;
    QString errorLogPath() const;

    // Makes a self-signed certificate for 127.0.0.1 and localhost with openssl in dir;
    // false with a reason in error when openssl is missing or fails.
    static bool makeSelfSignedCert(const QString &dir, QString *certPath, QString *keyPath,
                                   QString *error);

private:
    bool startOnce(const QString &docroot, const QString &sslCert, const QString &sslKey);
    QString dirPath(const QString &name) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    bool m_ssl = false;
    QString m_error;
};

} // namespace ravixtest
