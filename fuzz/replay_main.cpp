// SPDX-License-Identifier: MIT
// Replays stored inputs through a fuzz target's entry function, without libFuzzer: every file
// under the directories (or the files) named on the command line, in name order. A crash, a
// sanitizer report or a failed check ends the program abnormally, which fails the test.
#include "fuzzsupport.h"

#include <QDirIterator>
#include <QFile>
#include <QStringList>

#include <algorithm>

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
        } else if (QFileInfo::exists(path)) {
            files << path;
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 2;
        }
        const QByteArray data = file.readAll();
        std::fprintf(stderr, "replaying %s (%d bytes)\n", qPrintable(path), int(data.size()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.constData()),
                               static_cast<size_t>(data.size()));
    }
    std::fprintf(stderr, "%d inputs replayed\n", int(files.size()));
    return 0;
}
