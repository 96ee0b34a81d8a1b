// SPDX-License-Identifier: MIT
#include "fixnumber/bcd.h"

#include <algorithm>

namespace ravix {

namespace {

uchar pairValue(uchar b)
{
    return uchar((b & 0x0F) + 10 * (b >> 4));
}

} // namespace

QByteArray BCD::int2bcd(quint64 value, quint8 digits)
{
    QByteArray bytes;
    if (value != 0) {
        for (;;) {
            bytes.append(char(((value / 10) % 10) << 4 | (value % 10)));
            if (value < 100)
                break;
            value /= 100;
        }
    }
    std::reverse(bytes.begin(), bytes.end());
    const int wanted = (digits >> 1) & 0x7F;
    if (wanted > bytes.size())
        bytes.prepend(QByteArray(wanted - bytes.size(), '\0'));
    return bytes;
}

void BCD::bcd2int(uchar *data, uchar length)
{
    if (!data)
        return;
    for (uchar i = 0; i < length; ++i)
        data[i] = pairValue(data[i]);
}

quint64 BCD::bcd2int(const QByteArray &bytes)
{
    // Integer arithmetic all the way: every digit counts, however long the number.
    quint64 result = 0;
    for (const char b : bytes)
        result = result * 100 + pairValue(uchar(b));
    return result;
}

} // namespace ravix
