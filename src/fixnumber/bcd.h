// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QByteArray>

namespace ravix {

/// Packed binary-coded decimal: two digits a byte, tens in the high nibble, most significant
/// byte first.
class RAVIXCORE_EXPORT BCD
{
public:
    /// Encodes \a value in at least \a digits ÷ 2 bytes, zero-padded in front; a value with
    /// more digits gives a longer array.
    static QByteArray int2bcd(quint64 value, quint8 digits);
    /// Replaces each of the \a length bytes at \a data by its pair value (0–99 for valid BCD;
    /// nibbles above 9 are taken as they are, so 0xAB becomes 111).
    static void bcd2int(uchar *data, uchar length);
    /// Decodes a packed array of any length exactly; beyond 64 bits the result wraps.
    static quint64 bcd2int(const QByteArray &bytes);
};

} // namespace ravix
