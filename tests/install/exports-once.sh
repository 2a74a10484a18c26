#!/usr/bin/env bash
# Each function or object of the suite is exported by one shared library only:
# two exporters of one symbol resolve by load order, not by owner. Template
# code of the C++ library is exempt, as every library that uses it emits it.
# Usage: exports-once.sh LIBRARY...
set -euo pipefail
for library in "$@"; do
  nm -D --defined-only "$library" | awk -v lib="$(basename "$library")" '{ print $3, lib }'
done | grep -vE '^(_ZN?K?St|_ZT[ISV]St|_ZN9__gnu|_ZNK9__gnu|_ZT[ISV]N9__gnu|_ZT[ISV]N10__cxxabiv|_ZGVZNSt|_ZZNSt|_init |_fini )' |
  sort | awk '{ count[$1]++; where[$1] = where[$1] " " $2 }
              END { bad = 0; for (s in count) if (count[s] > 1) { print "exported twice: " s ":" where[s]; bad = 1 }
                    exit bad }' | c++filt
