// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace ravixtest {

// The attacker of the security tests: a real unprivileged account. The tests run as root (as
// the daemons do) and act as this account through runuser.
QString attackerAccount();

// True when this process can act as the attacker (it runs as root and runuser works).
bool canAttack(QString *why = nullptr);

// Runs a shell command as the attacker; returns its exit code (-1 when it could not start).
int runAsAttacker(const QString &shellCommand, QByteArray *out = nullptr,
                  int timeoutMs = 120000);

// A temporary directory that the attacker may enter and write in (mode 0777), as the shared
// folders of a daemon are. Removed with its contents when it goes.
class SharedTempDir
{
public:
    SharedTempDir();
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// A small tmpfs mounted on a directory of its own, for full-disk cases; unmounted when it goes.
class SmallTmpfs
{
public:
    explicit SmallTmpfs(qint64 sizeBytes);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs &) = delete;
    SmallTmpfs &operator=(const SmallTmpfs &) = delete;

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString errorString() const { return m_error; }
    // Fills the file system with a ballast file until no space is left.
    bool fill();
    // Removes the ballast, freeing the space again.
    void release();

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_error;
};

} // namespace ravixtest

// Fails the current test when the attacker account cannot be used. A Windows build, run under
// Wine, has no second account: there these cases stay with the Linux run.
#ifdef Q_OS_WIN
#define RAVIX_REQUIRE_ATTACKER() QSKIP("the attacker account exists on Linux only")
#else
#define RAVIX_REQUIRE_ATTACKER()                                                                   \
    do {                                                                                           \
        QString why_;                                                                              \
        if (!ravixtest::canAttack(&why_))                                                          \
            QFAIL(qPrintable(QStringLiteral("attacker account unavailable: ") + why_));            \
    } while (false)
#endif
