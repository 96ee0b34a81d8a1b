// SPDX-License-Identifier: MIT
// Downloads one file in a process of its own, so a test can kill a download half way and
// resume it in a new process.
//   hfl_fetch <url> <target> <blockSize>               exit 0 when the file arrived
//   hfl_fetch <url> <target> <blockSize> --hold-at N   prints "HOLD <percent>" once N percent
//                                                      are on disk and waits to be killed
#include <ravixcore/httpfileloader/httpfileloader.h>
#include <ravixcore/workers/abstractworkerthread.h>

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <cstdio>

class Sink : public QObject
{
    Q_OBJECT
public:
    QString result;
public slots:
    void onFinished(const QString &name)
    {
        result = name;
        std::printf("FINISHED %s\n", qPrintable(name));
        std::fflush(stdout);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 6)
        return 2;
    const QString url = args.at(1), target = args.at(2);
    const int blockSize = args.at(3).toInt();

    if (args.size() == 6) {
        const int holdAt = args.at(5).toInt();
        auto *loader = new ravix::HttpFileLoader(url, target, blockSize, nullptr, nullptr, nullptr);
        auto *thread = new ravix::AbstractWorkerThread(loader);
        // Direct: the loader's own thread stops right after the block that crossed the mark.
        QObject::connect(
            loader, &ravix::HttpFileLoader::progress, loader,
            [holdAt](const QString &, int value) {
                if (value < holdAt)
                    return;
                std::printf("HOLD %d\n", value);
                std::fflush(stdout);
                for (;;)
                    QThread::sleep(1);
            },
            Qt::DirectConnection);
        thread->start();
        return app.exec();
    }

    Sink sink;
    QPointer<QThread> thread =
        ravix::HttpFileLoader::download(url, target, &sink, SLOT(onFinished(QString)), blockSize);
    if (!thread)
        return 3;
    QObject::connect(thread, &QObject::destroyed, &app, &QCoreApplication::quit);
    app.exec();
    return sink.result.isEmpty() ? 1 : 0;
}

#include "hfl_fetch.moc"
