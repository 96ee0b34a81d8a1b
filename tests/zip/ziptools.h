// SPDX-License-Identifier: MIT
#pragma once

// The archivers our archives must work with, driven the same way by every interoperability test.

#include <testtools.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ziptest {

const QStringList ARCHIVERS{"unzip", "7z", "python3", "bsdtar"};
const QStringList WRITERS{"zip", "7z", "python3", "bsdtar"};

/// Has the tool read every entry of the archive and check its data. \a log gets its output.
inline bool toolChecks(const QString &tool, const QString &zip, QByteArray *log)
{
    static const char *const pythonCheck = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad is not None:
        print('bad entry', bad)
        sys.exit(1)
    print(len(z.infolist()), 'entries')
)";
    const QString program = ravixtest::findTool(tool);
    if (program.isEmpty()) {
        *log = "required tool not installed: " + tool.toUtf8();
        return false;
    }
    if (tool == "unzip")
        return ravixtest::runTool(program, {"-tq", zip}, log) == 0;
    if (tool == "7z")
        return ravixtest::runTool(program, {"t", zip}, log) == 0 &&
               log->contains("Everything is Ok");
    if (tool == "python3")
        return ravixtest::runTool(program, {"-c", pythonCheck, zip}, log) == 0;
    // bsdtar checks the data while extracting it; the bytes go nowhere.
    return ravixtest::runTool("/bin/sh", {"-c", "\"$0\" -xOf \"$1\" >/dev/null", program, zip},
                              log) == 0;
}

/// Has the tool write an archive of \a folder (a name inside \a parent, where it runs), stored
/// or at its fastest deflate level.
inline bool toolWrites(const QString &tool, const QString &parent, const QString &folder,
                       const QString &zip, bool store, QByteArray *log)
{
    static const char *const pythonWrite = R"(
import os, sys, zipfile
method = zipfile.ZIP_STORED if sys.argv[3] == 'store' else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(sys.argv[2], 'w', method, compresslevel=1) as z:
    for base, dirs, files in os.walk(sys.argv[1]):
        dirs.sort()
        for f in sorted(files):
            z.write(os.path.join(base, f))
)";
    const QString program = ravixtest::findTool(tool);
    if (program.isEmpty()) {
        *log = "required tool not installed: " + tool.toUtf8();
        return false;
    }
    QStringList args;
    if (tool == "zip")
        args << "-r" << "-q" << (store ? "-0" : "-1") << zip << folder;
    else if (tool == "7z")
        args << "a" << "-tzip" << (store ? "-mx0" : "-mx1") << zip << folder;
    else if (tool == "python3")
        args << "-c" << pythonWrite << folder << zip << (store ? "store" : "deflate");
    else
        args << "--format" << "zip" << "--options"
             << (store ? "zip:compression=store" : "zip:compression=deflate,zip:compression-level=1")
             << "-cf" << zip << folder;
    return ravixtest::runTool(program, args, log, parent, 1800000) == 0;
}

} // namespace ziptest
