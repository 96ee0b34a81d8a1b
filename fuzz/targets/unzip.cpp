// SPDX-License-Identifier: MIT
// UnZip on an arbitrary archive: open, list, verify, extract everything into a scratch
// directory (nothing may appear beside it), extract entries into memory, and extract a list of
// entries without their paths. Seeds include 64-bit (ZIP64) records. The password of the
// encrypted seeds is set, so their entries decrypt and mutations reach the data behind the
// encryption header.
#include "fuzzsupport.h"

#include <ravixcore/zip/unzip.h>

#include <QBuffer>
#include <QDirIterator>
#include <QFileInfo>

namespace {

QString outDir()
{
    return ravixfuzz::scratch().filePath(QStringLiteral("out"));
}

// Nothing but the target directory may exist in the scratch directory, and the tree below
// the target holds only plain files and directories.
void checkContained()
{
    const QStringList beside =
        QDir(ravixfuzz::scratch().path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    RAVIX_FUZZ_CHECK(beside.isEmpty() || beside == QStringList{QStringLiteral("out")});
    QDirIterator it(outDir(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        RAVIX_FUZZ_CHECK(!info.isSymLink());
        RAVIX_FUZZ_CHECK(info.isFile() || info.isDir());
    }
}

} // namespace

RAVIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    QByteArray bytes = ravixfuzz::bytes(data, size);
    QBuffer device(&bytes);
    UnZip unzip;
    unzip.setPassword(QStringLiteral("secret"));
    const UnZip::ErrorCode opened = unzip.openArchive(&device);
    if (opened != UnZip::Ok && opened != UnZip::PartiallyCorrupted) {
        RAVIX_FUZZ_CHECK(!unzip.isOpen());
        return 0;
    }
    unzip.archiveComment();
    const QStringList names = unzip.fileList();
    const QList<UnZip::ZipEntry> entries = unzip.entryList();
    RAVIX_FUZZ_CHECK(names.size() == entries.size());
    for (const QString &name : names)
        RAVIX_FUZZ_CHECK(unzip.contains(name));

    unzip.verifyArchive();
    unzip.extractAll(outDir());
    checkContained();

    // An entry extracted into memory that reports success has its declared size.
    for (const UnZip::ZipEntry &entry : entries) {
        QByteArray content;
        QBuffer out(&content);
        out.open(QIODevice::WriteOnly);
        if (unzip.extractFile(entry.filename, &out) == UnZip::Ok && entry.type == UnZip::File)
            RAVIX_FUZZ_CHECK(quint64(content.size()) == entry.uncompressedSize64);
        // The 32-bit size is the real one whenever it fits, else the format's mark.
        RAVIX_FUZZ_CHECK(entry.uncompressedSize64 >= 0xFFFFFFFFu
                             ? entry.uncompressedSize == 0xFFFFFFFFu
                             : entry.uncompressedSize == entry.uncompressedSize64);
    }

    unzip.extractFiles(names, outDir(), UnZip::SkipPaths);
    checkContained();
    unzip.closeArchive();
    QDir(outDir()).removeRecursively();
    return 0;
}
