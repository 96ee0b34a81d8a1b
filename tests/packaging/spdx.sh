#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every source file of the project names its licence in one line near its top.
set -euo pipefail
root=$1
cd "$root"
missing=0
while IFS= read -r -d '' f; do
    if ! head -n 3 "$f" | grep -q 'SPDX-License-Identifier: MIT'; then
        echo "no SPDX line: $f"
        missing=1
    fi
done < <(find . \( -path ./.git -o -path './build*' -o -path ./fuzz/corpus -o -path ./fuzz/regressions \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.cmake' -o -name '*.sh' -o -name '*.py' \
    -o -name '*.in' -o -name CMakeLists.txt \) -print0)
[ -f LICENSE ] || { echo "no LICENSE file"; missing=1; }
exit $missing
