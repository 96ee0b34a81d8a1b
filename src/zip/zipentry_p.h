// SPDX-License-Identifier: MIT
#pragma once

#include "sys/largepages_p.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

/// Room for whole entries, kept from one entry to the next within a call: fresh pages for
/// every entry cost about as much as decoding them, and a good part of deflating them.
class EntryBuffer
{
public:
    /// At least \a size bytes, nullptr when there is no memory for them.
    char *reserve(std::size_t size)
    {
        if (size > m_capacity || !m_data) {
            m_data.reset();
            const std::size_t capacity = ravix::largepages::capacityFor(size, SIZE_MAX);
            m_data.reset(new (std::nothrow) char[capacity ? capacity : 1]);
            m_capacity = m_data ? capacity : 0;
            if (m_data)
                ravix::largepages::advise(m_data.get(), capacity, size);
        }
        return m_data.get();
    }
    void release()
    {
        m_data.reset();
        m_capacity = 0;
    }

private:
    std::unique_ptr<char[]> m_data;
    std::size_t m_capacity = 0;
};

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
