#!/usr/bin/env bash
# What the points of a curve over the number of cases cost, as whole
# processes: `gxeplan curve --over cases` with 10 and with 1,000 points, on
# one thread, at k = 4 and k = 100, each run `repeats` times; prints the
# median wall time of each and the ratio of 1,000 points to 10, with the
# machine's load. With the global search the box is searched once for the
# design, and each point reads its power off the two extremes found.
#
#   bash bench/curve_points.sh [repeats] [search]
#
# (default 21 runs each; search global or centre). Builds the release preset
# first when needed; GXEPLAN=path times another build of the program instead
# (an older one, say).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"

repeats=${1:-21}
search=${2:-global}
if [ -z "${GXEPLAN:-}" ]; then gxe_build release gxeplan; fi
gxeplan="${GXEPLAN:-$GXE_ROOT/build/release/gxeplan}"

# Median wall time in ms of `repeats` runs of the arguments.
median_ms() {
  local times=() i start end
  for ((i = 0; i < repeats; i++)); do
    start=$(date +%s%N)
    "$gxeplan" "$@" >/dev/null
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%.2f", t[int((NR + 1) / 2)] / 1000 }'
}

echo "gxeplan curve --over cases --from 100 --to 5000, --search $search, --threads 1, median of $repeats runs"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) (nproc $(nproc))"
for k in 4 100; do
  design=(curve --over cases --from 100 --to 5000 --ror 2 --quantiles "$k" --gene-prevalence 0.3
          --or-e 2 --or-g 1.5 --or-e-range 1:4 --or-g-range 0.5:2 --search "$search"
          --threads 1 --format csv)
  ten=$(median_ms "${design[@]}" --points 10)
  thousand=$(median_ms "${design[@]}" --points 1000)
  awk -v k="$k" -v a="$ten" -v b="$thousand" 'BEGIN {
    printf "k = %3d: 10 points %7.2f ms, 1000 points %7.2f ms: %.2f times\n", k, a, b, b / a }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
