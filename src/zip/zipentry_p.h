// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

/// In-memory record of one archive entry, shared by the writer and the reader.
class ZipEntryP
{
public:
    quint64 lhOffset = 0;   ///< offset of the local header
    quint64 dataOffset = 0; ///< reader: first byte after the local header's name and extra field
    unsigned char gpFlag[2] = {0, 0};
    quint16 compMethod = 0;
    unsigned char modTime[2] = {0, 0};
    unsigned char modDate[2] = {0, 0};
    quint32 crc = 0;
    quint64 szComp = 0; ///< includes the 12-byte encryption header
    quint64 szUncomp = 0;
    /// Writer: the local header carries a 64-bit extra field (sizes past 4 GiB were possible).
    bool localZip64 = false;
    QString comment;      ///< reader: entry comment
    QString absolutePath; ///< writer: absolute source path (duplicate test)
    qint64 fileSize = 0;  ///< writer: full source size (duplicate test)
    bool headerParsed = false;
    int headerResult = 0; ///< reader: outcome of the local header check, repeated on later calls

    bool isEncrypted() const { return gpFlag[0] & 0x01; }
    bool hasDataDescriptor() const { return gpFlag[0] & 0x08; }
};
