// SPDX-License-Identifier: MIT
// A minimal host: writes its start-up file into a fresh work directory, reads every
// setting back and shows the directories the configuration created.
#include <ravixcore/appframe/initconfig.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("RavixDemo"));
    QCoreApplication::setApplicationName(QStringLiteral("startup-demo"));

    const QStringList args = app.arguments();
    const QString root = args.size() > 1 ? args.at(1) : QDir::tempPath() + "/ravixcore-demo";
    const QString iniPath = root + "/startup.ini";
    QTextStream out(stdout);

    {
        // First run: create the file and point the work directory into the demo tree.
        ravix::InitConfig cfg(iniPath, true);
        cfg.setValue(ravix::InitConfig::INIT_SECTION, ravix::InitConfig::WORK_DIR, root + "/work");
    }

    ravix::InitConfig cfg(iniPath, false);
    out << "start-up file:      " << cfg.settingsFileName() << '\n'
        << "created:            " << cfg.value("INIT", "initDt").toString() << '\n'
        << "workDir:            " << cfg.workDir() << '\n'
        << "loggerPath:         " << cfg.loggerPath() << '\n'
        << "runPath:            " << cfg.runPath() << '\n'
        << "versionsPath:       " << cfg.versionsPath() << '\n'
        << "translationsPath:   " << cfg.translationsPath() << '\n'
        << "keepLogs:           " << cfg.keepLogs() << '\n'
        << "rotateLogs:         " << cfg.rotateLogs() << '\n'
        << "keepLogsHandlers:   " << cfg.keepLogsHandlers() << '\n'
        << "cleanAnyOldLogs:    " << cfg.cleanAnyOldLogs() << '\n'
        << "locale:             " << cfg.locale().name() << '\n'
        << "directories:\n";
    for (const QString &d : {cfg.workDir(), cfg.loggerPath(), cfg.runPath(), cfg.versionsPath(),
                             cfg.translationsPath()})
        out << "  " << d << (QFileInfo(d).isDir() ? "  (exists)" : "  (missing)") << '\n';
    return 0;
}
