// SPDX-License-Identifier: MIT
// One download through HttpFileLoader, for the harness to time beside curl. Prints the peak
// resident memory of the process when done.
// Usage: bench_http <url> <target> <block size>
#include <ravixcore/httpfileloader/httpfileloader.h>

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QThread>

#include <cstdio>

class Sink : public QObject
{
    Q_OBJECT
public:
    QString result;
public slots:
    void onFinished(const QString &name) { result = name; }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: bench_http <url> <target> <block size>\n");
        return 2;
    }
    Sink sink;
    QPointer<QThread> thread = ravix::HttpFileLoader::download(
        args.at(1), args.at(2), &sink, SLOT(onFinished(QString)), args.at(3).toInt());
    if (!thread)
        return 3;
    QObject::connect(thread, &QObject::destroyed, &app, &QCoreApplication::quit);
    app.exec();

    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                std::printf("peak %s\n", line.mid(6).simplified().constData());
        }
    }
    return sink.result.isEmpty() ? 1 : 0;
}

#include "bench_http.moc"
