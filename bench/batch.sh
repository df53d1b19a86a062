#!/usr/bin/env bash
# Batch throughput: one `dorvex --json` process for a set of documents against one process per
# document (xargs -n1), and -j 2 against -j 1 on large documents; peak memory of -j 2.
# Medians of runs, output to /dev/null.
# Usage: bench/batch.sh [runs]   (environment: CORPUS, default ../shared/corpus beside the
# project; BENCH_DIR, the inputs bench/run.sh makes; DORVEX_EXE, default build/release/dorvex)
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C
runs=${1:-5}
exe=$(realpath "${DORVEX_EXE:-build/release/dorvex}")
corpus=${CORPUS:-$(realpath ../../shared/corpus 2>/dev/null || echo /work/shared/corpus)}
dir=${BENCH_DIR:-/tmp/dorvex-bench}
[ -x "$exe" ] || { echo "no $exe: build the release preset first" >&2; exit 1; }

# shellcheck source=bench/timing.sh
. bench/timing.sh

list=$(mktemp)
large=$(mktemp)
trap 'rm -f "$list" "$large"' EXIT
find "$corpus" -type f ! -name MANIFEST.tsv ! -name README.md ! -name LICENSE -print0 | sort -z > "$list"
count=$(tr -cd '\0' < "$list" | wc -c)

echo "median of $runs runs; $count documents under $corpus"
one=$(time_cmd sh -c "xargs -0 -n1 '$exe' -d utf-8 < '$list'")
batch=$(time_cmd "$exe" --json -j 1 -0 --files-from "$list")
batch2=$(time_cmd "$exe" --json -j 2 -0 --files-from "$list")
printf '%-44s %8.0f ms  %6.0f docs/s\n' "one process per document (xargs -n1)" \
  "$(calc "$one * 1000")" "$(calc "$count / $one")"
printf '%-44s %8.0f ms  %6.0f docs/s  %5.1fx\n' "one process, --json -j 1" \
  "$(calc "$batch * 1000")" "$(calc "$count / $batch")" "$(calc "$one / $batch")"
printf '%-44s %8.0f ms  %6.0f docs/s  %5.1fx\n' "one process, --json -j 2" \
  "$(calc "$batch2 * 1000")" "$(calc "$count / $batch2")" "$(calc "$one / $batch2")"
if [ -x /usr/bin/time ]; then
  rss=$(/usr/bin/time -f %M "$exe" --json -j 2 -0 --files-from "$list" 2>&1 >/dev/null | tail -1)
  printf '%-44s %8s KiB\n' "peak RSS, --json -j 2 over the set" "$rss"
fi

# Large documents: the bench's Word 97, RTF and package inputs, four of each.
for f in word97-8.doc word97-16.doc big.rtf big.docx big.odt; do
  [ -f "$dir/$f" ] && for _ in 1 2 3 4; do printf '%s\0' "$dir/$f"; done
done > "$large"
if [ -s "$large" ]; then
  n=$(tr -cd '\0' < "$large" | wc -c)
  j1=$(time_cmd "$exe" --json -j 1 -0 --files-from "$large")
  j2=$(time_cmd "$exe" --json -j 2 -0 --files-from "$large")
  printf '%-44s %8.0f ms\n' "$n large documents, --json -j 1" "$(calc "$j1 * 1000")"
  printf '%-44s %8.0f ms  %5.2fx -j 1\n' "$n large documents, --json -j 2" "$(calc "$j2 * 1000")" \
    "$(calc "$j1 / $j2")"
  if [ -x /usr/bin/time ]; then
    rss=$(/usr/bin/time -f %M "$exe" --json -j 2 -0 --files-from "$large" 2>&1 >/dev/null | tail -1)
    printf '%-44s %8s KiB\n' "peak RSS, --json -j 2 on large documents" "$rss"
  fi
else
  echo "no large inputs in $dir: run bench/run.sh first"
fi
