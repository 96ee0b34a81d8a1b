// SPDX-License-Identifier: MIT
#include "attacktools.h"

#include "testtools.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace ravixtest {

QString attackerAccount()
{
    return QStringLiteral("nobody");
}

bool canAttack(QString *why)
{
#ifdef Q_OS_WIN
    if (why)
        *why = QStringLiteral("a Windows build has no second account to act through");
    return false;
#else
    if (::geteuid() != 0) {
        if (why)
            *why = QStringLiteral("the security tests run as root");
        return false;
    }
    QByteArray out;
    if (runAsAttacker(QStringLiteral("id -u"), &out) != 0 || out.trimmed() == "0") {
        if (why)
            *why = QStringLiteral("runuser -u %1 failed").arg(attackerAccount());
        return false;
    }
    return true;
#endif
}

int runAsAttacker(const QString &shellCommand, QByteArray *out, int timeoutMs)
{
    return runTool(QStringLiteral("runuser"),
                   {QStringLiteral("-u"), attackerAccount(), QStringLiteral("--"),
                    QStringLiteral("/bin/sh"), QStringLiteral("-c"), shellCommand},
                   out, QString(), timeoutMs);
}

SharedTempDir::SharedTempDir()
{
    if (m_dir.isValid())
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
}

SmallTmpfs::SmallTmpfs(qint64 sizeBytes)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    QByteArray out;
    // On Linux, also for a Windows program under Wine, whose drives show what is mounted.
    const int rc = runTool(findTool(QStringLiteral("mount")),
                           {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                            QStringLiteral("size=%1,mode=0777").arg(sizeBytes),
                            QStringLiteral("ravixtest"), m_dir.path()},
                           &out);
    m_mounted = rc == 0;
    if (!m_mounted)
        m_error = QString::fromLocal8Bit(out);
}

SmallTmpfs::~SmallTmpfs()
{
    if (m_mounted)
        runTool(findTool(QStringLiteral("umount")), {QStringLiteral("-l"), m_dir.path()});
}

bool SmallTmpfs::fill()
{
    QFile ballast(QDir(m_dir.path()).filePath(QStringLiteral(".ballast")));
    if (!ballast.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray block(64 * 1024, 'x');
    while (ballast.write(block) == block.size() && ballast.flush()) {
    }
    // Fill the last partial block too.
    while (ballast.write("x", 1) == 1 && ballast.flush()) {
    }
    return true;
}

void SmallTmpfs::release()
{
    QFile::remove(QDir(m_dir.path()).filePath(QStringLiteral(".ballast")));
}

} // namespace ravixtest
