// SPDX-License-Identifier: MIT
#include "appframe/ravixcoreinit.h"

#include "appframe/atomicwrite_p.h"

#include "appframe/dircreator.h"
#include "sys/oslayer_p.h"
#include "version/appversionmanager.h"

#include <ravixcore/ravixcore_version.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#ifndef RAVIXCORE_CATALOGUE_DIR
#define RAVIXCORE_CATALOGUE_DIR ""
#endif
// The catalogues' folder relative to the folder the library is installed in.
#ifndef RAVIXCORE_CATALOGUE_RELATIVE_DIR
#define RAVIXCORE_CATALOGUE_RELATIVE_DIR ""
#endif

namespace ravix {

namespace {
const char *const LIBRARY_NAME = "ravixcore";
const char *const LIBRARY_VERSION = RAVIXCORE_VERSION_STRING;
} // namespace

// _version must be constructed before the instance below, whose constructor fills it.
AppVersion RavixCoreInit::_version;
static RavixCoreInit ravixCoreInitInstance;

RavixCoreInit::RavixCoreInit()
{
    const QString name = QString::fromLatin1(LIBRARY_NAME);
    if (!_version.isValid()) {
        _version = AppVersionManager::addVersion(
            name, AppVersion(QString::fromLatin1(LIBRARY_VERSION),
                             buildStamp(QStringLiteral(__DATE__), QStringLiteral(__TIME__))));
    }
    AppVersionManager::addLocalisation(name);
}

RavixCoreInit::~RavixCoreInit() = default;

QString RavixCoreInit::buildStamp(const QString &date, const QString &time)
{
    // The compiler pads a one-digit day with a second space ("Dec  6 2021").
    const QString text = QStringLiteral("%1 %2").arg(date, time).simplified();
    return QLocale(QStringLiteral("en"))
        .toDateTime(text, QStringLiteral("MMM d yyyy hh:mm:ss"))
        .toString(Qt::ISODate);
}

AppVersion RavixCoreInit::version()
{
    return _version;
}

QString RavixCoreInit::cataloguesDir()
{
    // An installed tree may have been moved or packaged under another prefix: the catalogues
    // lie where they were installed relative to the library itself.
    const QString library =
        QString::fromStdWString(oslayer::moduleFilePath(static_cast<const void *>(&_version)));
    const QString relative = QString::fromUtf8(RAVIXCORE_CATALOGUE_RELATIVE_DIR);
    if (!library.isEmpty() && !relative.isEmpty()) {
        const QString dir =
            QDir::cleanPath(QFileInfo(library).absolutePath() + QLatin1Char('/') + relative);
        if (QFileInfo(dir).isDir())
            return dir;
    }
    return QString::fromUtf8(RAVIXCORE_CATALOGUE_DIR);
}

bool RavixCoreInit::installCatalogues(const QString &toDir, const QString &fromDir)
{
    const QDir source(fromDir.isEmpty() ? cataloguesDir() : fromDir);
    const QStringList names =
        source.entryList({QStringLiteral("ravixcore_*.qm")}, QDir::Files, QDir::Name);
    if (names.isEmpty() || toDir.isEmpty())
        return false;
    if (!DirCreator::checkAndCreate(toDir, DirCreator::DEFAULT_ALL))
        return false;
    bool ok = true;
    for (const QString &name : names) {
        QFile in(source.filePath(name));
        if (!in.open(QIODevice::ReadOnly)) {
            ok = false;
            continue;
        }
        const QByteArray data = in.readAll();
        // A daemon may be loading the old copy right now; it must never see half a file.
        ok = in.error() == QFileDevice::NoError &&
             writeFileAtomically(QDir(toDir).filePath(name), data) && ok;
    }
    return ok;
}

} // namespace ravix
