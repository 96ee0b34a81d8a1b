// SPDX-License-Identifier: MIT
// FixNumber and ExtFixNumber from arbitrary text: setString, setAllFromString, toString,
// round() to every power of ten, sums and comparisons.
// Input: one byte choosing the multiplier and round type, then two texts split at the first LF.
#include "fuzzsupport.h"

#include <ravixcore/fixnumber/fixnumber.h>

using ravix::ExtFixNumber;
using ravix::FixNumber;

namespace {

const unsigned kPowers[] = {1,      10,      100,      1000,      10000,
                            100000, 1000000, 10000000, 100000000, 1000000000};

void checkOrder(const FixNumber &a, const FixNumber &b)
{
    if (a.realMultiplier() == 0 || b.realMultiplier() == 0)
        return;
    // Exactly one of the three relations holds between two scaled numbers.
    const int relations = int(a < b) + int(a == b) + int(a > b);
    RAVIX_FUZZ_CHECK(relations == 1);
    RAVIX_FUZZ_CHECK((a < b) == (b > a));
    RAVIX_FUZZ_CHECK((a == b) == (b == a));
    RAVIX_FUZZ_CHECK((a <= b) == !(a > b));
}

void exercise(const FixNumber &n)
{
    n.toString();
    n.toString(QLatin1Char(','), QLatin1Char(' '));
    n.toDouble();
    for (unsigned m : kPowers)
        n.round(m);
    FixNumber copy;
    copy.setMap(n.toMap());
    RAVIX_FUZZ_CHECK(copy.value() == n.value());
    RAVIX_FUZZ_CHECK(copy.realMultiplier() == n.realMultiplier());
}

} // namespace

RAVIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    const unsigned multiplier = kPowers[data[0] % 10];
    const auto roundType = static_cast<ExtFixNumber::ERoundType>((data[0] / 10) % 6);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const QString first = text.section(QLatin1Char('\n'), 0, 0);
    const QString second = text.section(QLatin1Char('\n'), 1);

    FixNumber a(multiplier);
    a.setString(first);
    ExtFixNumber e(multiplier, first, roundType);
    exercise(a);
    exercise(e);

    // Text read with setAllFromString prints back to the same multiplier and value.
    FixNumber b;
    if (b.setAllFromString(second)) {
        FixNumber again;
        const QString printed = b.toString(QLatin1Char('.'), QChar());
        RAVIX_FUZZ_CHECK(again.setAllFromString(printed));
        RAVIX_FUZZ_CHECK(again.realMultiplier() == b.realMultiplier());
        RAVIX_FUZZ_CHECK(again.value() == b.value());
    }
    exercise(b);

    checkOrder(a, b);
    checkOrder(e, b);
    FixNumber sum = a + b;
    FixNumber diff = a - b;
    sum += diff;
    diff -= e;
    ExtFixNumber esum = e + b;
    esum -= a;
    exercise(sum);
    exercise(diff);
    exercise(esum);
    return 0;
}
