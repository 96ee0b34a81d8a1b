// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/httpfileloader/httpfileloader.h>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

namespace hfltest {

const int kWait = 120000; // generous: the machine may be loaded, and sanitizers slow it down

QByteArray randomBytes(int size, quint32 seed);
bool writeFile(const QString &path, const QByteArray &data);
QByteArray readFile(const QString &path);
QByteArray sha1Of(const QString &path);

// Receives the loader's results in the test's thread.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList names;
    int plainFinished = 0;
    QList<int> progress;
    QString progressFile;
signals:
    void done();
public slots:
    void onFinished(const QString &name)
    {
        names << name;
        emit done();
    }
    void onPlainFinished() { ++plainFinished; }
    void onProgress(const QString &file, int value)
    {
        progressFile = file;
        progress << value;
    }
};

// Downloads through the static entry point and waits until thread and loader are gone.
void fetch(const QString &url, const QString &target, int blockSize, Receiver &r);

} // namespace hfltest
