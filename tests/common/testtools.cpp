// SPDX-License-Identifier: MIT
#include "testtools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#endif

namespace ravixtest {

QString hostPath(const QString &path)
{
#ifdef Q_OS_WIN
    // Wine tells the Linux path of any drive's file; drive Z: is the Linux root.
    using UnixName = char *(__cdecl *)(const wchar_t *);
    static const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const QString p = QDir::fromNativeSeparators(path);
    if (unixName && p.size() > 2 && p.at(1) == QLatin1Char(':')) {
        const std::wstring native = QDir::toNativeSeparators(p).toStdWString();
        if (char *name = unixName(native.c_str())) {
            const QString result = QString::fromLocal8Bit(name);
            HeapFree(GetProcessHeap(), 0, name);
            return result;
        }
    }
    return p.startsWith(QLatin1String("Z:/"), Qt::CaseInsensitive) ? p.mid(2) : p;
#else
    return path;
#endif
}

#ifdef Q_OS_WIN
namespace {

QString shellQuoted(const QString &s)
{
    QString q = s;
    q.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

// A Windows program under Wine may start a Linux program but gets no handle to wait on: the
// tool runs through a shell that leaves its output and then its exit code in files, and the
// files are watched.
int runHostTool(const QString &program, const QStringList &args, QByteArray *out,
                const QString &workDir, int timeoutMs)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return -1;
    QString cmd = shellQuoted(program);
    // Only arguments that are Windows paths change; a script's backslashes stay.
    for (const QString &a : args) {
        const bool drivePath = a.size() > 2 && a.at(0).isLetter() &&
                               a.at(1) == QLatin1Char(':') &&
                               (a.at(2) == QLatin1Char('/') || a.at(2) == QLatin1Char('\\'));
        cmd += QLatin1Char(' ') + shellQuoted(drivePath ? hostPath(a) : a);
    }
    const QString rc = hostPath(dir.filePath(QStringLiteral("rc")));
    const QString script =
        QStringLiteral("export PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin LC_ALL=C.UTF-8\n"
                       "(cd %1 && %2) </dev/null >%3 2>&1\necho $? >%4.part\n"
                       "mv %4.part %4\n")
            .arg(shellQuoted(hostPath(workDir.isEmpty() ? QDir::currentPath() : workDir)), cmd,
                 shellQuoted(hostPath(dir.filePath(QStringLiteral("out")))), shellQuoted(rc));
    QFile file(dir.filePath(QStringLiteral("run.sh")));
    if (!file.open(QIODevice::WriteOnly) || file.write(script.toUtf8()) < 0)
        return -1;
    file.close();
    if (!QProcess::startDetached(QStringLiteral("Z:\\bin\\sh"), {hostPath(file.fileName())}))
        return -1;
    QElapsedTimer clock;
    clock.start();
    QFile result(dir.filePath(QStringLiteral("rc")));
    while (!result.exists()) {
        if (clock.elapsed() > timeoutMs)
            return -1;
        QThread::msleep(20);
    }
    if (!result.open(QIODevice::ReadOnly))
        return -1;
    const int code = result.readAll().trimmed().toInt();
    if (out) {
        QFile output(dir.filePath(QStringLiteral("out")));
        *out = output.open(QIODevice::ReadOnly) ? output.readAll() : QByteArray();
    }
    // A shell reports a death by signal as 128 and more.
    return code >= 128 ? -1 : code;
}

} // namespace
#endif

QString findTool(const QString &name)
{
#ifdef Q_OS_WIN
    // The tests' tools are Linux programs, run on the Linux side.
    for (const char *dir : {"/usr/bin", "/bin", "/usr/sbin", "/sbin", "/usr/lib/wine"}) {
        const QString path = QLatin1String(dir) + QLatin1Char('/') + name;
        if (QFileInfo(QStringLiteral("Z:") + path).isFile())
            return path;
    }
#endif
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"),
                                                     QStringLiteral("/sbin"),
                                                     QStringLiteral("/usr/lib/wine")});
    return path;
}

int runTool(const QString &program, const QStringList &args, QByteArray *out,
            const QString &workDir, int timeoutMs)
{
    QString native = program;
#ifdef Q_OS_WIN
    // A program of this build given by its Linux path is a Windows one: it runs here, not
    // through the shell on the Linux side.
    if (program.startsWith(QLatin1Char('/'))) {
        if (!program.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
            return runHostTool(program, args, out, workDir, timeoutMs);
        native = QStringLiteral("Z:") + program;
    }
#endif
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(native, args);
    if (!p.waitForStarted(30000))
        return -1;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

int modeBits(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

bool othersMayWrite(const QString &path)
{
#ifdef Q_OS_WIN
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return true; // unknown counts as open
    bool open = dacl == nullptr;
    const DWORD writeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER |
                              DELETE | GENERIC_WRITE | GENERIC_ALL;
    for (const wchar_t *others : {L"S-1-1-0", L"S-1-5-32-545", L"S-1-5-11"}) {
        PSID sid = nullptr;
        if (!ConvertStringSidToSidW(others, &sid))
            continue;
        for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
            void *ace = nullptr;
            if (!GetAce(dacl, i, &ace))
                continue;
            const auto *header = static_cast<ACE_HEADER *>(ace);
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
                continue;
            auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
            if (EqualSid(&allowed->SidStart, sid) && (allowed->Mask & writeRights))
                open = true;
        }
        LocalFree(sid);
    }
    LocalFree(sd);
    return open;
#else
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) != 0 || (st.st_mode & S_IWOTH);
#endif
}

bool hardLink(const QString &target, const QString &link)
{
#ifdef Q_OS_WIN
    return CreateHardLinkW(QDir::toNativeSeparators(link).toStdWString().c_str(),
                           QDir::toNativeSeparators(target).toStdWString().c_str(), nullptr);
#else
    return ::link(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
#endif
}

bool writeFileMode(const QString &path, const QByteArray &data, int mode)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        return false;
    f.close();
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

QByteArray readFileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray platformText(const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    QByteArray text;
    text.reserve(bytes.size());
    for (int i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
            continue;
        if (c == '\n' && (i == 0 || bytes.at(i - 1) != '\r'))
            text += "<LF without CR>";
        text += c;
    }
    return text;
#else
    return bytes;
#endif
}

QByteArray readTextFile(const QString &path)
{
    return platformText(readFileBytes(path));
}

#ifdef Q_OS_WIN
namespace {

// The access list of \a path, freed with LocalFree through \a sd.
PACL daclOf(const QString &path, PSECURITY_DESCRIPTOR *sd)
{
    PACL dacl = nullptr;
    *sd = nullptr;
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, sd) != ERROR_SUCCESS)
        return nullptr;
    return dacl;
}

} // namespace

qint64 everyoneRights(const QString &path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    const PACL dacl = daclOf(path, &sd);
    if (!sd)
        return -1;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    qint64 rights = 0;
    if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
            void *ace = nullptr;
            if (!GetAce(dacl, i, &ace))
                continue;
            const auto *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
            if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                !(allowed->Header.AceFlags & INHERITED_ACE) &&
                EqualSid(const_cast<DWORD *>(&allowed->SidStart), everyone))
                rights |= allowed->Mask;
        }
        FreeSid(everyone);
    }
    LocalFree(sd);
    return rights;
}

QString accessList(const QString &path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    daclOf(path, &sd);
    if (!sd)
        return QString();
    LPWSTR text = nullptr;
    QString result;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &text,
                                                             nullptr)) {
        result = QString::fromWCharArray(text);
        LocalFree(text);
    }
    LocalFree(sd);
    return result;
}
#endif

} // namespace ravixtest
