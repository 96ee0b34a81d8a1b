// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QLocale>
#include <QObject>
#include <QString>

namespace ravix {

/// The base of every service process's root object. The host derives from it, constructs it
/// first thing in main(), calls init() and then exec(), and stop() at shutdown.
class RAVIXCORE_EXPORT BaseDaemonRoot : public QObject
{
    Q_OBJECT
public:
    /// \a argc and \a argv are kept for the derived class, which creates the application
    /// object from them; \a configPath is the start-up INI file. Unless \a keepSignals is
    /// set, SIGTERM makes the event loop call stop() and leave with exit code 0; when the loop
    /// does not answer within 5 seconds, the process ends at once with exit code 0.
    BaseDaemonRoot(int &argc, char **argv, const QString &configPath, bool keepSignals);
    BaseDaemonRoot(int &argc, char **argv, const QString &configPath);
    ~BaseDaemonRoot() override;

    /// Sets the default locale and installs the catalogues "qt", "qtbase" and every one
    /// registered with the version registry, from the configuration's translations directory.
    virtual void doSetupLocale(const QLocale &locale);
    /// The host's start-up work; it must create the application object. False ends init().
    virtual bool initApp() = 0;

    /// Reads the start-up file, calls initApp(), records the file's path in the application
    /// property "INIT_CONFIG_PATH", saves the version file, starts logging and sets up the
    /// locale. Returns initApp()'s result; false too when the hook made no application object.
    virtual bool init();
    /// Runs the application's event loop.
    virtual int exec();
    /// Writes the closing log line and gives message handling back to Qt; the event loop is
    /// left running.
    virtual void stop();

    /// The first root object of the process, null before it is made and after it is gone.
    static BaseDaemonRoot *_instance;

public Q_SLOTS:
    void setUpLocale(const QLocale &locale);
    /// Applies the locale named in the start-up file.
    void setUpLocale();

private:
    // Lets the event loop answer SIGTERM once the application object exists.
    void watchTermination();

protected:
    int &m_argc;
    char **m_argv;
    QString m_configPath;
};

} // namespace ravix
