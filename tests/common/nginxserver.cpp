// SPDX-License-Identifier: MIT
#include "nginxserver.h"

#include "testtools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#ifndef Q_OS_WIN
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace ravixtest {

namespace {

#ifdef Q_OS_WIN
// Under Wine the test starts the Linux nginx: Wine runs a Linux program it is asked to start,
// but gives no handle to wait on, so nginx runs as a daemon and is stopped by its own signal.
const QString kNginx = QStringLiteral("Z:\\usr\\sbin\\nginx");
#else
const QString kNginx = QStringLiteral("/usr/sbin/nginx");
#endif

// A port that was free a moment ago; nginx may still lose it to another process, so start()
// tries a few times.
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString quoted(const QString &path)
{
    return QLatin1Char('"') + hostPath(QFileInfo(path).absoluteFilePath()) + QLatin1Char('"');
}

// As root nginx would hand its workers to an unprivileged account that cannot read the
// private temporary folders; keep them on the current account instead.
QString userDirective()
{
#ifdef Q_OS_WIN
    // The Windows program cannot ask who runs Wine; windows-check.sh says it.
    return qEnvironmentVariable("RAVIX_NGINX_USER_DIRECTIVE");
#else
    if (::geteuid() != 0)
        return QString();
    const passwd *pw = ::getpwuid(::geteuid());
    const group *gr = ::getgrgid(::getegid());
    if (!pw || !gr)
        return QString();
    return QStringLiteral("user %1 %2;\n")
        .arg(QString::fromLocal8Bit(pw->pw_name), QString::fromLocal8Bit(gr->gr_name));
#endif
}

// nginx goes down with the test process, also when a crash or a timeout kills the test
// before the destructor could stop it.
class NginxProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
#ifdef Q_OS_LINUX
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    }
};

} // namespace

NginxServer::NginxServer() : m_process(new NginxProcess) {}

NginxServer::~NginxServer()
{
    stop();
}

QString NginxServer::dirPath(const QString &name) const
{
    return m_dir->path() + QLatin1Char('/') + name;
}

QString NginxServer::accessLogPath() const
{
    return m_dir ? dirPath(QStringLiteral("access.log")) : QString();
}

QByteArray NginxServer::accessLog() const
{
    QFile log(accessLogPath());
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

QString NginxServer::errorLogPath() const
{
    return m_dir ? dirPath(QStringLiteral("error.log")) : QString();
}

bool NginxServer::isRunning() const
{
#ifdef Q_OS_WIN
    return m_dir && QFile::exists(dirPath(QStringLiteral("nginx.pid")));
#else
    return m_process->state() != QProcess::NotRunning;
#endif
}

bool NginxServer::start(const QString &docroot, const QString &sslCert, const QString &sslKey)
{
    stop();
    m_error.clear();
    if (!QFile::exists(kNginx)) {
        m_error = QStringLiteral("nginx is not installed (%1 missing)").arg(kNginx);
        return false;
    }
    if (!QFileInfo(docroot).isDir()) {
        m_error = QStringLiteral("document root %1 is not a folder").arg(docroot);
        return false;
    }
    m_dir.reset(new QTemporaryDir(QDir::tempPath() + QStringLiteral("/ravix-nginx-XXXXXX")));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("cannot create a temporary folder: ") + m_dir->errorString();
        return false;
    }
    for (int i = 0; i < 5; ++i) {
        if (startOnce(docroot, sslCert, sslKey))
            return true;
        // Only a lost port race is worth another try.
        QFile log(errorLogPath());
        if (!log.open(QIODevice::ReadOnly) || !log.readAll().contains("Address already in use"))
            return false;
    }
    return false;
}

bool NginxServer::startOnce(const QString &docroot, const QString &sslCert, const QString &sslKey)
{
    m_port = freePort();
    m_ssl = !sslCert.isEmpty();
    if (m_port == 0) {
        m_error = QStringLiteral("no free port on 127.0.0.1");
        return false;
    }
    const QString root = QFileInfo(docroot).absoluteFilePath();
    QString tls;
    if (m_ssl)
        tls = QStringLiteral("        ssl_certificate %1;\n        ssl_certificate_key %2;\n")
                  .arg(quoted(QFileInfo(sslCert).absoluteFilePath()),
                       quoted(QFileInfo(sslKey).absoluteFilePath()));

    QString conf;
#ifdef Q_OS_WIN
    conf += QStringLiteral("daemon on;\n");
#else
    conf += QStringLiteral("daemon off;\n");
#endif
    conf += QStringLiteral("master_process on;\nworker_processes 1;\n");
    conf += userDirective();
    conf += QStringLiteral("pid %1;\n").arg(quoted(dirPath(QStringLiteral("nginx.pid"))));
    conf += QStringLiteral("error_log %1 info;\n").arg(quoted(errorLogPath()));
    conf += QStringLiteral("events { worker_connections 256; }\nhttp {\n");
    // The requested range and referer are logged so tests can see what a client asked for.
    conf += QStringLiteral("    log_format ranges '$remote_addr \"$request\" $status "
                           "$body_bytes_sent \"$http_range\" \"$http_referer\"';\n");
    conf += QStringLiteral("    access_log %1 ranges;\n").arg(quoted(accessLogPath()));
    const char *temps[] = {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"};
    for (const char *t : temps)
        conf += QStringLiteral("    %1_temp_path %2;\n")
                    .arg(QLatin1String(t), quoted(dirPath(QLatin1String(t))));
    conf += QStringLiteral("    default_type application/octet-stream;\n"
                           "    sendfile on;\n"
                           "    server {\n"
                           "        listen 127.0.0.1:%1%2;\n"
                           "        server_name localhost;\n"
                           "        root %3;\n")
                .arg(m_port)
                .arg(m_ssl ? QStringLiteral(" ssl") : QString())
                .arg(quoted(root));
    conf += tls;
    conf += QStringLiteral("        location / { }\n    }\n}\n");

    const QString confPath = dirPath(QStringLiteral("nginx.conf"));
    QFile f(confPath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(conf.toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write %1").arg(confPath);
        return false;
    }
    f.close();

#ifdef Q_OS_WIN
    if (!QProcess::startDetached(kNginx, {QStringLiteral("-p"), hostPath(m_dir->path()) + '/',
                                          QStringLiteral("-e"), hostPath(errorLogPath()),
                                          QStringLiteral("-c"), hostPath(confPath)})) {
        m_error = QStringLiteral("nginx did not start");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(1000) && isRunning())
            return true;
        QFile log(errorLogPath());
        if (log.open(QIODevice::ReadOnly) && log.readAll().contains("[emerg]")) {
            log.seek(0);
            m_error = QStringLiteral("nginx ended at start-up: ") +
                      QString::fromLocal8Bit(log.readAll());
            return false;
        }
        QThread::msleep(50);
    }
#else
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // -e keeps nginx away from the system's error log before it has read our configuration.
    m_process->start(kNginx,
                     {QStringLiteral("-p"), m_dir->path() + QLatin1Char('/'), QStringLiteral("-e"),
                      errorLogPath(), QStringLiteral("-c"), confPath});
    if (!m_process->waitForStarted(30000)) {
        m_error = QStringLiteral("nginx did not start: ") + m_process->errorString();
        return false;
    }
    // Ready once it accepts a connection; a generous limit for a loaded machine.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000) {
        if (m_process->waitForFinished(50)) {
            QFile log(errorLogPath());
            log.open(QIODevice::ReadOnly);
            m_error = QStringLiteral("nginx ended at start-up: ") +
                      QString::fromLocal8Bit(m_process->readAll() + log.readAll());
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(1000))
            return true;
    }
#endif
    m_error = QStringLiteral("nginx did not accept connections on port %1").arg(m_port);
    stop();
    return false;
}

void NginxServer::stop()
{
#ifdef Q_OS_WIN
    if (!isRunning())
        return;
    QProcess::startDetached(kNginx, {QStringLiteral("-p"), hostPath(m_dir->path()) + '/',
                                     QStringLiteral("-e"), hostPath(errorLogPath()),
                                     QStringLiteral("-c"), hostPath(dirPath(QStringLiteral("nginx.conf"))),
                                     QStringLiteral("-s"), QStringLiteral("stop")});
    // nginx removes its pid file as it ends.
    QElapsedTimer clock;
    clock.start();
    while (isRunning() && clock.elapsed() < 30000)
        QThread::msleep(50);
#else
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(30000)) {
        m_process->kill();
        m_process->waitForFinished(30000);
    }
#endif
}

QString NginxServer::url(const QString &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_ssl ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_port)
        .arg(path);
}

bool NginxServer::makeSelfSignedCert(const QString &dir, QString *certPath, QString *keyPath,
                                     QString *error)
{
    const QString openssl = findTool(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        if (error)
            *error = QStringLiteral("openssl is not installed");
        return false;
    }
    const QString cert = dir + QStringLiteral("/cert.pem");
    const QString key = dir + QStringLiteral("/key.pem");
    QByteArray out;
    const int rc = runTool(
        openssl,
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
         QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), key,
         QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("2"),
         QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
         QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")},
        &out);
    if (rc != 0 || !QFile::exists(cert) || !QFile::exists(key)) {
        if (error)
            *error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(out);
        return false;
    }
    if (certPath)
        *certPath = cert;
    if (keyPath)
        *keyPath = key;
    return true;
}

} // namespace ravixtest
