// SPDX-License-Identifier: MIT
// Makes the demo update site of the terminal agent: a package archive written with Zip and the
// update document that offers it, with its size and SHA-1 and SHA-256 digests. The document is
// signed afterwards with ravix-sign-update ("update.json.sig" beside it).
// Usage: make-update-site <site dir> <base URL> [version]
// The site gets update.json, packages/terminal-agent-<version>.zip and package.sha1 (the
// digest in hexadecimal, for scripts that check the download).
#include <ravixcore/zip/zip.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// A tariff table large enough that the package travels in several blocks; the same every run.
QByteArray tariffTable()
{
    QByteArray table = "code;name;price\n";
    quint32 seed = 2024;
    for (int row = 1; row <= 6000; ++row) {
        seed = seed * 1664525u + 1013904223u;
        table += QByteArray::number(row) + ";item-" + QByteArray::number(seed % 100000, 36) + ';' +
                 QByteArray::number((seed >> 8) % 100000) + '\n';
    }
    return table;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        err << "usage: make-update-site <site dir> <base URL> [version]\n";
        return 2;
    }
    const QString site = QDir(args.at(1)).absolutePath();
    QString base = args.at(2);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QString version = args.size() > 3 ? args.at(3) : QStringLiteral("2.1.0");
    const QString build = QStringLiteral("2026-01-15T10:00:00");

    const QString payload = site + QStringLiteral("/payload");
    QDir(payload).removeRecursively();
    if (!QDir().mkpath(payload + QStringLiteral("/data")) ||
        !QDir().mkpath(site + QStringLiteral("/packages"))) {
        err << "cannot create " << site << '\n';
        return 1;
    }
    if (!writeFile(payload + QStringLiteral("/README.txt"),
                   QStringLiteral("terminal-agent %1, built %2\n").arg(version, build).toUtf8()) ||
        !writeFile(payload + QStringLiteral("/data/tariffs.csv"), tariffTable())) {
        err << "cannot write the package contents\n";
        return 1;
    }

    const QString packageName = QStringLiteral("terminal-agent-%1.zip").arg(version);
    const QString packagePath = site + QStringLiteral("/packages/") + packageName;
    Zip zip;
    Zip::ErrorCode rc = zip.createArchive(packagePath, true);
    if (rc == Zip::Ok)
        rc = zip.addDirectoryContents(payload, Zip::AutoFull);
    zip.setArchiveComment(QStringLiteral("terminal-agent %1").arg(version));
    const Zip::ErrorCode closed = zip.closeArchive();
    if (rc == Zip::Ok)
        rc = closed;
    if (rc != Zip::Ok) {
        err << "cannot write " << packagePath << ": " << zip.formatError(rc) << '\n';
        return 1;
    }

    QFile package(packagePath);
    if (!package.open(QIODevice::ReadOnly)) {
        err << "cannot read " << packagePath << '\n';
        return 1;
    }
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.addData(&package);
    const QByteArray digest = sha1.result().toHex();
    package.seek(0);
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    sha256.addData(&package);

    const QJsonObject pkg{
        {QStringLiteral("version"), version},
        {QStringLiteral("build"), build},
        {QStringLiteral("fileUrl"), base + QStringLiteral("/packages/") + packageName},
        {QStringLiteral("sha1"), QString::fromLatin1(digest)},
        {QStringLiteral("sha256"), QString::fromLatin1(sha256.result().toHex())},
        {QStringLiteral("fileSize"), package.size()},
        {QStringLiteral("name"), QStringLiteral("terminal-agent")}};
    const QJsonObject update{{QStringLiteral("version"), version},
                             {QStringLiteral("description"), QStringLiteral("New tariff table")},
                             {QStringLiteral("changelog"), base + QStringLiteral("/changelog.txt")},
                             {QStringLiteral("packages"), QJsonArray{pkg}}};
    const QJsonObject document{{QStringLiteral("Q_OS_WIN32"), QJsonArray{update}}};
    if (!writeFile(site + QStringLiteral("/update.json"), QJsonDocument(document).toJson()) ||
        !writeFile(site + QStringLiteral("/changelog.txt"),
                   QStringLiteral("%1: new tariff table\n").arg(version).toUtf8()) ||
        !writeFile(site + QStringLiteral("/package.sha1"), digest + '\n')) {
        err << "cannot write the update document\n";
        return 1;
    }
    QTextStream(stdout) << "update site " << site << ": " << packageName << ", " << package.size()
                        << " bytes, sha1 " << digest << '\n';
    return 0;
}
