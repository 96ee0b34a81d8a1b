// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

#include <zlib.h>

namespace ravix {
namespace zipcrypt {

/// Key state of the traditional archive encryption.
class Keys
{
public:
    explicit Keys(const z_crc_t *table) : m_table(table) {}

    void init(const QString &password)
    {
        m_k[0] = 0x12345678u;
        m_k[1] = 0x23456789u;
        m_k[2] = 0x34567890u;
        const QByteArray pwd = password.toLatin1();
        for (char c : pwd)
            update(static_cast<unsigned char>(c));
    }

    void update(unsigned char c)
    {
        m_k[0] = crcStep(m_k[0], c);
        m_k[1] = (m_k[1] + (m_k[0] & 0xFF)) * 134775813u + 1;
        m_k[2] = crcStep(m_k[2], static_cast<unsigned char>(m_k[1] >> 24));
    }

    unsigned char streamByte() const
    {
        const quint32 t = (m_k[2] & 0xFFFF) | 2;
        return static_cast<unsigned char>(((t * (t ^ 1)) >> 8) & 0xFF);
    }

    unsigned char encrypt(unsigned char c)
    {
        const unsigned char out = c ^ streamByte();
        update(c);
        return out;
    }

    unsigned char decrypt(unsigned char c)
    {
        const unsigned char plain = c ^ streamByte();
        update(plain);
        return plain;
    }

    void encrypt(char *data, qint64 len)
    {
        for (qint64 i = 0; i < len; ++i)
            data[i] = static_cast<char>(encrypt(static_cast<unsigned char>(data[i])));
    }

    void decrypt(char *data, qint64 len)
    {
        for (qint64 i = 0; i < len; ++i)
            data[i] = static_cast<char>(decrypt(static_cast<unsigned char>(data[i])));
    }

private:
    quint32 crcStep(quint32 crc, unsigned char c) const
    {
        return static_cast<quint32>(m_table[(crc ^ c) & 0xFF]) ^ (crc >> 8);
    }

    const z_crc_t *m_table;
    quint32 m_k[3] = {0, 0, 0};
};

/// Little-endian helpers for the record layouts.
inline void put16(unsigned char *p, quint16 v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}

inline void put32(unsigned char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

inline void put64(unsigned char *p, quint64 v)
{
    put32(p, quint32(v & 0xFFFFFFFFu));
    put32(p + 4, quint32(v >> 32));
}

inline quint16 get16(const unsigned char *p)
{
    return static_cast<quint16>(p[0] | (p[1] << 8));
}

inline quint32 get32(const unsigned char *p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

inline quint64 get64(const unsigned char *p)
{
    return quint64(get32(p)) | (quint64(get32(p + 4)) << 32);
}

/// Size of each of the two streaming buffers.
constexpr int BUFFER_SIZE = 262144;

/// Sizes and offsets are 32-bit; 0xFFFFFFFF is reserved by the format for its 64-bit extension.
constexpr quint64 MAX_32 = 0xFFFFFFFEull;

/// The 64-bit extension: its extra field, end record and locator.
constexpr quint16 ZIP64_EXTRA_TAG = 0x0001;
constexpr quint32 ZIP64_END_SIGNATURE = 0x06064B50;
constexpr quint32 ZIP64_LOCATOR_SIGNATURE = 0x07064B50;
constexpr int ZIP64_END_SIZE = 56;
constexpr int ZIP64_LOCATOR_SIZE = 20;
constexpr int LOCAL_ZIP64_EXTRA_SIZE = 20; ///< tag, length and both 64-bit sizes
constexpr quint32 MARK_32 = 0xFFFFFFFFu; ///< "the value is in the 64-bit field"
constexpr quint16 MARK_16 = 0xFFFF;
/// Sizes and offsets beyond this are lies: no device holds them, and they would overflow
/// signed positions.
constexpr quint64 MAX_64 = quint64(1) << 62;

/// The data of the 64-bit extra block inside an extra field, or null; \a size gets its length.
inline const unsigned char *findZip64Extra(const unsigned char *extra, int length, int *size)
{
    int pos = 0;
    while (pos + 4 <= length) {
        const quint16 tag = get16(extra + pos);
        const int len = get16(extra + pos + 2);
        if (pos + 4 + len > length)
            return nullptr;
        if (tag == ZIP64_EXTRA_TAG) {
            *size = len;
            return extra + pos + 4;
        }
        pos += 4 + len;
    }
    return nullptr;
}

/// Replaces each given value that holds the 32-bit mark by the next 64-bit field of the block,
/// in the format's order (uncompressed size, compressed size, header offset). False when a
/// field is missing or a value cannot be true.
inline bool readZip64Fields(const unsigned char *block, int size, quint64 *const *values,
                            int count)
{
    int at = 0;
    for (int i = 0; i < count; ++i) {
        quint64 *v = values[i];
        if (!v || *v != MARK_32)
            continue;
        if (!block || at + 8 > size)
            return false;
        *v = get64(block + at);
        at += 8;
        if (*v > MAX_64)
            return false;
    }
    return true;
}
/// Names and comments carry 16-bit lengths.
constexpr int MAX_FIELD_LENGTH = 65535;

} // namespace zipcrypt
} // namespace ravix
