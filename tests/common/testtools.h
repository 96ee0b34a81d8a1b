// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace ravixtest {

// Path of an external tool the tests rely on, or empty. A missing tool is a test failure:
// the test command installs every tool, so absence means a broken environment.
QString findTool(const QString &name);

// Runs a program to completion; returns its exit code (-1 when it could not start or crashed).
int runTool(const QString &program, const QStringList &args, QByteArray *out = nullptr,
            const QString &workDir = QString(), int timeoutMs = 300000);

// The path under which a Linux program sees \a path, which under Wine lies on some drive
// (drive Z: is the Linux root). Elsewhere the path itself.
QString hostPath(const QString &path);

// File mode bits as ls shows them (e.g. 0775), read with stat.
int modeBits(const QString &path);

// Whether accounts other than the owner may change the file: the others' write bit on POSIX;
// on Windows a write right that its access list gives to everyone, the users or the
// authenticated users (an absent list gives every right to everyone).
bool othersMayWrite(const QString &path);

// Gives the file at target a second name (a hard link); false on failure.
bool hardLink(const QString &target, const QString &link);

// Writes a file whole and gives it the mode bits; false on any failure.
bool writeFileMode(const QString &path, const QByteArray &data, int mode);
// A file's bytes, empty when it cannot be read.
QByteArray readFileBytes(const QString &path);

// Text as written with the platform's line ends (files and a child's output in text mode), with
// LF line ends. On Windows every line ends with CR LF: a LF without its CR shows as
// "<LF without CR>" and a CR stays where it is not followed by LF, so that a comparison fails.
QByteArray platformText(const QByteArray &bytes);
// platformText() of a file's bytes; empty when the file cannot be read.
QByteArray readTextFile(const QString &path);

#ifdef Q_OS_WIN
// The rights the explicit (not inherited) entries that allow Everyone (S-1-1-0) give on a file
// or folder, as the access list holds them; 0 when there is none, -1 when the list is unreadable.
qint64 everyoneRights(const QString &path);
// A file's or folder's access list in SDDL form; empty when it cannot be read.
QString accessList(const QString &path);
#endif

} // namespace ravixtest

// Fails the current test when the tool is missing.
#define RAVIX_REQUIRE_TOOL(var, name)                                                              \
    const QString var = ravixtest::findTool(QStringLiteral(name));                                 \
    if (var.isEmpty())                                                                             \
        QFAIL("required tool not installed: " name);
