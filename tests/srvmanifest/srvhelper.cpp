// SPDX-License-Identifier: MIT
// A child process for the wrapper tests. Its arguments are acted on in order:
//   --dump FILE    writes arguments, working folder and environment to FILE as JSON
//   --flood BYTES  writes BYTES to standard output and as many to standard error
//   --mark FILE    creates FILE (a sign that everything before it is done)
//   --sleep MS     sleeps
//   --abort        crashes (without a core file)
//   --exit CODE    exits with CODE
// Other arguments are ignored. Without --exit it ends with 0.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

static void dump(const QString &file, const QStringList &args)
{
    QJsonObject env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString &key : system.keys())
        env.insert(key, system.value(key));
    QJsonObject top;
    top.insert("args", QJsonArray::fromStringList(args));
    top.insert("cwd", QDir::currentPath());
    top.insert("env", env);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(top).toJson()) < 0)
        std::exit(90);
}

static void flood(qint64 bytes)
{
    const QByteArray block(64 * 1024, 'x');
    for (qint64 left = bytes; left > 0; left -= block.size()) {
        const size_t n = size_t(qMin<qint64>(left, block.size()));
        std::fwrite(block.constData(), 1, n, stdout);
        std::fwrite(block.constData(), 1, n, stderr);
    }
    std::fflush(stdout);
    std::fflush(stderr);
}

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const QString value = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (arg == "--dump") {
            dump(value, args);
            ++i;
        } else if (arg == "--flood") {
            flood(value.toLongLong());
            ++i;
        } else if (arg == "--mark") {
            QFile mark(value);
            if (!mark.open(QIODevice::WriteOnly))
                return 91;
            ++i;
        } else if (arg == "--sleep") {
            QThread::msleep(value.toULong());
            ++i;
        } else if (arg == "--abort") {
#ifdef Q_OS_UNIX
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
#endif
#ifdef Q_OS_WIN
            // abort() ends a Windows program with exit code 3, which is no crash there; an
            // unhandled exception is, without a dialog or a debugger.
            SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
            RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
#endif
            std::abort();
        } else if (arg == "--exit") {
            return value.toInt();
        }
    }
    return 0;
}
