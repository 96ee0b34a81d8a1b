// SPDX-License-Identifier: MIT
#include "srvmanifest/srvwrapper.h"
#include "srvmanifest/srvwrapper_p.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

namespace ravix {

namespace {
constexpr int SYNC_WAIT_MS = 30000;
const QString PLUGIN_PATH_KEY = QStringLiteral("QT_QPA_PLATFORM_PLUGIN_PATH");
const QString PATH_KEY = QStringLiteral("PATH");
// Wrappers of any thread read them.
QAtomicInt s_quickRunMs{SrvWrapperTimings().quickRunMs};
QAtomicInt s_firstDelayMs{SrvWrapperTimings().firstDelayMs};
QAtomicInt s_maxDelayMs{SrvWrapperTimings().maxDelayMs};
} // namespace

SrvWrapperTimings srvWrapperTimings()
{
    SrvWrapperTimings t;
    t.quickRunMs = s_quickRunMs.loadAcquire();
    t.firstDelayMs = s_firstDelayMs.loadAcquire();
    t.maxDelayMs = s_maxDelayMs.loadAcquire();
    return t;
}

void setSrvWrapperTimings(const SrvWrapperTimings &timings)
{
    s_quickRunMs.storeRelease(timings.quickRunMs);
    s_firstDelayMs.storeRelease(timings.firstDelayMs);
    s_maxDelayMs.storeRelease(timings.maxDelayMs);
}

BaseSrvWrapper *BaseSrvWrapper::create(const ExeInstance &instance, QObject *parent)
{
    return new SrvWrapper(instance, parent);
}

BaseSrvWrapper::BaseSrvWrapper(const ExeInstance &instance, QObject *parent)
    : QObject(parent), _instance(instance), _keepRunning(false)
{
}

BaseSrvWrapper::~BaseSrvWrapper() = default;

ExeInstance BaseSrvWrapper::instance() const
{
    return _instance;
}

bool BaseSrvWrapper::isValid() const
{
    return _instance.isValid();
}

void BaseSrvWrapper::start(bool sync)
{
    doStart(sync);
}

void BaseSrvWrapper::stop(bool sync)
{
    doStop(sync);
}

SrvWrapper::SrvWrapper(const ExeInstance &instance, QObject *parent)
    : BaseSrvWrapper(instance, parent)
{
}

SrvWrapper::~SrvWrapper()
{
    _keepRunning = false;
    if (_process) {
        // Nothing may reach this half-destroyed wrapper while the child is put down.
        _process->disconnect(this);
        if (_process->state() != QProcess::NotRunning) {
            _process->kill();
            _process->waitForFinished(SYNC_WAIT_MS);
        }
    }
}

bool SrvWrapper::isRunned() const
{
    return _process && _process->state() != QProcess::NotRunning;
}

QProcessEnvironment SrvWrapper::serviceEnvironment(const QProcessEnvironment &base,
                                                   const QString &hostDir,
                                                   PlatformConventions::Style style)
{
    QProcessEnvironment env = base;
    QString nativeHostDir = hostDir;
    nativeHostDir.replace(QLatin1Char('/'), PlatformConventions::nativeSeparator(style));
    env.remove(PLUGIN_PATH_KEY);
    env.insert(PLUGIN_PATH_KEY, nativeHostDir);

    const QString oldPath = env.value(PATH_KEY);
    env.remove(PATH_KEY);
    // An empty entry in a POSIX PATH means the working folder: never add one.
    if (oldPath.isEmpty() && style == PlatformConventions::Posix)
        env.insert(PATH_KEY, hostDir);
    else
        env.insert(PATH_KEY, hostDir + PlatformConventions::pathListSeparator(style) + oldPath);
    return env;
}

void SrvWrapper::doStop(bool sync)
{
    _keepRunning = false;
    if (_restartTimer)
        _restartTimer->stop();
    if (isRunned()) {
        _killed = true;
        _process->kill();
        if (sync)
            _process->waitForFinished(SYNC_WAIT_MS);
    }
}

void SrvWrapper::doStart(bool sync)
{
    stop(sync);
    if (!_instance.isValid())
        return;

    if (!_process) {
        _process = new QProcess(this);
        connect(_process, SIGNAL(errorOccurred(QProcess::ProcessError)), this,
                SLOT(error(QProcess::ProcessError)));
        connect(_process, SIGNAL(finished(int, QProcess::ExitStatus)), this,
                SLOT(serviceFinished(int, QProcess::ExitStatus)));
        connect(_process, SIGNAL(readyReadStandardError()), this, SLOT(readyReadStandardError()));
        connect(_process, SIGNAL(readyReadStandardOutput()), this, SLOT(readyReadStandardOutput()));
        connect(_process, SIGNAL(started()), this, SLOT(serviceStarted()));
        connect(_process, SIGNAL(stateChanged(QProcess::ProcessState)), this,
                SLOT(stateChanged(QProcess::ProcessState)));
        // Nobody reads the child's output; buffered in the host it would grow without limit.
        _process->setStandardOutputFile(QProcess::nullDevice());
        _process->setStandardErrorFile(QProcess::nullDevice());
    }

    // A killed child must be gone before the next one can start; its finished() comes now,
    // while no restart is wanted.
    if (_process->state() != QProcess::NotRunning)
        _process->waitForFinished(SYNC_WAIT_MS);

    _killed = false;
    _process->setWorkingDirectory(_instance.workDir());
    _process->setProcessEnvironment(serviceEnvironment(QProcessEnvironment::systemEnvironment(),
                                                       QCoreApplication::applicationDirPath()));
    _process->start(_instance.exeFilePath(), _instance.params(), QIODevice::ReadWrite);
    _runClock.start();
    if (sync)
        _process->waitForStarted(SYNC_WAIT_MS);
    _keepRunning = true;
}

void SrvWrapper::error(QProcess::ProcessError processError)
{
    if (processError == QProcess::Crashed && _killed)
        return;
    qCritical().noquote() << _instance.name() << tr("Error: ") + QString::number(int(processError));
}

void SrvWrapper::serviceFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // A child ended by stop() counts as crashed to QProcess (killed by a signal, or by
    // TerminateProcess with exit code 62097 on Windows).
    const bool killed = _killed;
    _killed = false;
    if (exitStatus != QProcess::NormalExit && !killed)
        qCritical().noquote() << _instance.name() << tr("is crashed with code ") << exitCode;
    emit finished(_instance.name());
    if (_keepRunning)
        restartAfterEnd();
}

void SrvWrapper::restartAfterEnd()
{
    const SrvWrapperTimings timings = srvWrapperTimings();
    if (_runClock.isValid() && _runClock.elapsed() < timings.quickRunMs) {
        ++_quickEnds;
    } else {
        _quickEnds = 0;
        _loggedPauseMs = 0;
    }
    // The first restart after a quick end stays immediate; a child that keeps ending at once
    // would otherwise be started hundreds of times a second.
    if (_quickEnds <= 1) {
        start(false);
        return;
    }
    qint64 pause = timings.firstDelayMs;
    for (int i = 2; i < _quickEnds && pause < timings.maxDelayMs; ++i)
        pause *= 2;
    const int pauseMs = int(qMin<qint64>(pause, timings.maxDelayMs));
    if (pauseMs > _loggedPauseMs) {
        _loggedPauseMs = pauseMs;
        qWarning().noquote() << _instance.name()
                             << tr("ended %1 times in a row within %2 s of its start; next start "
                                   "in %3 s")
                                    .arg(_quickEnds)
                                    .arg(timings.quickRunMs / 1000.0)
                                    .arg(pauseMs / 1000.0);
    }
    if (!_restartTimer) {
        _restartTimer = new QTimer(this);
        _restartTimer->setSingleShot(true);
        connect(_restartTimer, &QTimer::timeout, this, [this] {
            if (_keepRunning)
                start(false);
        });
    }
    _restartTimer->start(pauseMs);
}

void SrvWrapper::readyReadStandardError() {}

void SrvWrapper::readyReadStandardOutput() {}

void SrvWrapper::serviceStarted()
{
    emit started(_instance.name());
}

void SrvWrapper::stateChanged(QProcess::ProcessState newState)
{
    Q_UNUSED(newState)
}

} // namespace ravix
