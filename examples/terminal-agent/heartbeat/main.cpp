// SPDX-License-Identifier: MIT
// The sample service of the terminal agent: appends a heartbeat line to a file in its working
// folder at a fixed interval and ends after a number of beats, so its supervisor has to start
// it again. Its standard output is not read by anyone.
// Usage: heartbeat-service [--beats N] [--interval-ms MS] [--file NAME]
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QThread>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int beats = 6;
    int intervalMs = 500;
    QString fileName = QStringLiteral("heartbeat.log");
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--beats"))
            beats = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--interval-ms"))
            intervalMs = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--file"))
            fileName = args.at(i + 1);
    }

    QFile out(fileName);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return 2;
    const qint64 pid = QCoreApplication::applicationPid();
    for (int beat = 1; beats <= 0 || beat <= beats; ++beat) {
        out.write(QStringLiteral("%1 heartbeat %2 pid %3\n")
                      .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs))
                      .arg(beat)
                      .arg(pid)
                      .toUtf8());
        out.flush();
        QThread::msleep(static_cast<unsigned long>(qMax(intervalMs, 10)));
    }
    return 0;
}
