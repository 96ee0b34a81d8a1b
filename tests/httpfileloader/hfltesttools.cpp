// SPDX-License-Identifier: MIT
#include "hfltesttools.h"

#include <QCryptographicHash>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace hfltest {

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    for (int i = size / 4 * 4; i < size; ++i)
        data[i] = char(gen.generate());
    return data;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray sha1Of(const QString &path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return QByteArray();
    return hash.result().toHex();
}

void fetch(const QString &url, const QString &target, int blockSize, Receiver &r)
{
    QSignalSpy done(&r, &Receiver::done);
    QPointer<QThread> thread = ravix::HttpFileLoader::download(
        url, target, &r, SLOT(onFinished(QString)), SLOT(onProgress(QString, int)), blockSize);
    QVERIFY(thread);
    QVERIFY(done.count() > 0 || done.wait(kWait));
    QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), kWait);
    QCOMPARE(r.names.size(), 1);
}

} // namespace hfltest
