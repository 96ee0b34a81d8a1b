// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/appframe/platformconventions.h>
#include <ravixcore/ravixcore_export.h>
#include <ravixcore/srvmanifest/srvmanifest.h>

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>

class QTimer;

namespace ravix {

/// One supervised service: start, stop and the running test. While it is meant to run, every
/// end of the child is followed by a new start.
class RAVIXCORE_EXPORT BaseSrvWrapper : public QObject
{
    Q_OBJECT
public:
    /// A new SrvWrapper owned by \a parent (the caller deletes it when \a parent is null);
    /// nothing is started.
    static BaseSrvWrapper *create(const ExeInstance &instance, QObject *parent = nullptr);

    BaseSrvWrapper(const ExeInstance &instance, QObject *parent = nullptr);
    ~BaseSrvWrapper() override;

    ExeInstance instance() const;

    /// The service's executable exists (ExeInstance::isValid()).
    virtual bool isValid() const;
    /// The child process is starting or running.
    virtual bool isRunned() const = 0;

Q_SIGNALS:
    /// \a exe is the service's ExeInstance::name().
    void started(const QString &exe);
    /// The child ended, whatever the reason; while the wrapper runs it is started again.
    void finished(const QString &exe);

public Q_SLOTS:
    /// With \a sync, waits up to 30 s for the child to start (and for a running one to end).
    void start(bool sync = false);
    /// With \a sync, waits up to 30 s for the child to end.
    void stop(bool sync = false);

protected:
    /// The subclass's start and stop of the child. They keep _keepRunning, so that an ended
    /// child is started again only while the service is meant to run.
    virtual void doStart(bool sync) = 0;
    virtual void doStop(bool sync) = 0;

    ExeInstance _instance;
    bool _keepRunning;
};

/// Runs the service's executable as a child process in the host's environment, with the host's
/// folder first in PATH. The child's output is discarded. A child that ends within seconds of
/// its start is restarted at once the first time, then after pauses that double up to a minute.
class RAVIXCORE_EXPORT SrvWrapper : public BaseSrvWrapper
{
    Q_OBJECT
public:
    SrvWrapper(const ExeInstance &instance, QObject *parent = nullptr);
    /// Ends a child that still runs, without restarting it.
    ~SrvWrapper() override;

    bool isRunned() const override;

    /// The child's environment: \a base with QT_QPA_PLATFORM_PLUGIN_PATH set to \a hostDir in
    /// the style's separators and \a hostDir put in front of PATH.
    static QProcessEnvironment
    serviceEnvironment(const QProcessEnvironment &base, const QString &hostDir,
                       PlatformConventions::Style style = PlatformConventions::nativeStyle());

protected:
    void doStart(bool sync) override;
    void doStop(bool sync) override;

private Q_SLOTS:
    void error(QProcess::ProcessError processError);
    void serviceFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void readyReadStandardError();
    void readyReadStandardOutput();
    void serviceStarted();
    void stateChanged(QProcess::ProcessState newState);

private:
    void restartAfterEnd();

    QPointer<QProcess> _process;
    // Restarts after quick ends wait on this timer; the run of the current child is timed.
    QTimer *_restartTimer = nullptr;
    QElapsedTimer _runClock;
    int _quickEnds = 0;
    int _loggedPauseMs = 0;
    // The child was ended on purpose: its end is no crash, whatever the platform calls it.
    bool _killed = false;
};

} // namespace ravix
