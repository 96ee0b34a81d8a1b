// SPDX-License-Identifier: MIT
// AppVersion parsing and ordering of two arbitrary texts (split at the first LF); a third line,
// when present, is the build time of both.
#include "fuzzsupport.h"

#include <ravixcore/version/appversion.h>

using ravix::AppVersion;

RAVIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QString ta = text.section(QLatin1Char('\n'), 0, 0);
    const QString tb = text.section(QLatin1Char('\n'), 1, 1);
    const QString build = text.section(QLatin1Char('\n'), 2, 2);

    const AppVersion a(ta, build);
    const AppVersion b(tb, build);

    // A parsed version prints a text that parses back to the same version. A "b" split can
    // leave white space at the end of an "rc" modificator ("1rc0 b"); the reparse simplifies
    // the printed text and so drops it.
    if (a.majorVersion() >= 0) {
        const AppVersion again(a.version(), build);
        RAVIX_FUZZ_CHECK(again.majorVersion() == a.majorVersion());
        RAVIX_FUZZ_CHECK(again.minorVersion() == a.minorVersion());
        RAVIX_FUZZ_CHECK(again.patchVersion() == a.patchVersion());
        RAVIX_FUZZ_CHECK(again.modificator() == a.modificator().trimmed());
        RAVIX_FUZZ_CHECK(again.version() == a.version().trimmed());
    }

    // The version order is a strict order: exactly one of less, equal, more.
    const int relations =
        int(a.versionLessThen(b)) + int(a.versionEquilTo(b)) + int(a.versionMoreThen(b));
    RAVIX_FUZZ_CHECK(relations == 1);
    RAVIX_FUZZ_CHECK(a.versionLessThen(b) == b.versionMoreThen(a));
    RAVIX_FUZZ_CHECK(AppVersion::lessThen(ta, tb) == a.versionLessThen(b));
    RAVIX_FUZZ_CHECK(AppVersion::moreThen(ta, tb) == a.versionMoreThen(b));
    RAVIX_FUZZ_CHECK(AppVersion::equilTo(ta, tb) == a.versionEquilTo(b));

    // With the same build the full order agrees with the version order.
    RAVIX_FUZZ_CHECK((a < b) == a.versionLessThen(b));
    RAVIX_FUZZ_CHECK((a == b) == a.versionEquilTo(b));
    RAVIX_FUZZ_CHECK((a <= b) == !(a > b));

    AppVersion c(a);
    c = b;
    RAVIX_FUZZ_CHECK(c == b);
    c.setBuild(ta);
    c.isValid();
    c.build();
    return 0;
}
