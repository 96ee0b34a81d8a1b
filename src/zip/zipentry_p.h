#pragma once

#include <QString>
#include <QtGlobal>

/// In-memory record of one archive entry, shared by the writer and the reader.
class ZipEntryP
{
public:
    quint32 lhOffset = 0;   ///< offset of the local header
    quint32 dataOffset = 0; ///< reader: first byte after the local header's name and extra field
    unsigned char gpFlag[2] = {0, 0};
    quint16 compMethod = 0;
    unsigned char modTime[2] = {0, 0};
    unsigned char modDate[2] = {0, 0};
    quint32 crc = 0;
    quint32 szComp = 0; ///< includes the 12-byte encryption header
    quint32 szUncomp = 0;
    QString comment;      ///< reader: entry comment
    QString absolutePath; ///< writer: absolute source path (duplicate test)
    qint64 fileSize = 0;  ///< writer: full source size (duplicate test)
    bool headerParsed = false;
    int headerResult = 0; ///< reader: outcome of the local header check, repeated on later calls

    bool isEncrypted() const { return gpFlag[0] & 0x01; }
    bool hasDataDescriptor() const { return gpFlag[0] & 0x08; }
};
