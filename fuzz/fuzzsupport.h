// SPDX-License-Identifier: MIT
#pragma once
// Shared pieces of the fuzz targets. Every target defines LLVMFuzzerInitialize and
// LLVMFuzzerTestOneInput; the same file builds with libFuzzer (fuzz build, clang) and with the
// replay program (replay_main.cpp, normal build), which feeds it stored inputs.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace ravixfuzz {

// The library's diagnostics would flood the fuzzer's output; they are dropped.
inline void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// A property of the code under test does not hold: abort, so the fuzzer keeps the input and
// the replay test fails.
#define RAVIX_FUZZ_CHECK(cond)                                                                     \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Creates the application object (some code asks it for the application folder) and silences
// the log; called from LLVMFuzzerInitialize.
inline void init(int *argc, char ***argv)
{
    static int appArgc = 1;
    static char name[] = "ravix-fuzz";
    static char *appArgv[] = {name, nullptr};
    (void)argc;
    (void)argv;
    if (!QCoreApplication::instance())
        new QCoreApplication(appArgc, appArgv);
    qInstallMessageHandler(dropMessages);
}

// Defines LLVMFuzzerInitialize for a target that needs nothing beyond init().
#define RAVIX_FUZZ_INIT                                                                            \
    extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)                                   \
    {                                                                                              \
        ravixfuzz::init(argc, argv);                                                               \
        return 0;                                                                                  \
    }

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size));
}

// A scratch directory for the whole run, removed at exit.
inline QTemporaryDir &scratch()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/ravix-fuzz-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a scratch directory\n");
        std::abort();
    }
    return dir;
}

} // namespace ravixfuzz
