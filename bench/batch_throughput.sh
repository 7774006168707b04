#!/usr/bin/env bash
# Rows per second of `gxeplan batch` as a whole process: generates a file of
# random designs (k from 2 to 10 exposure categories, as quantiles or as
# given prevalences, power and size rows alternating, the global search over
# a box around the null odds ratios), runs the release build on it and prints
# the figures with the machine's load.
#
#   bash bench/batch_throughput.sh [rows] [seed] [threads]
#
# (default 10000 rows, seed 1, threads 0: every core; 1 calculates one row
# after the other).
#
# Builds the release preset first when needed. The designs file and the
# output are kept in a scratch folder that is removed at the end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"

rows=${1:-10000}
seed=${2:-1}
threads=${3:-0}
gxe_install_missing time  # /usr/bin/time, for the cpu time and peak memory
gxe_build release gxeplan
gxeplan="$GXE_ROOT/build/release/gxeplan"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

awk -v rows="$rows" -v seed="$seed" 'BEGIN {
  srand(seed)
  print "id,mode,cases,power,quantiles,exposure_prevalences,gene_prevalence,controls_per_case,or_e,or_g,ror,or_e_low,or_e_high,or_g_low,or_g_high"
  for (i = 1; i <= rows; i++) {
    k = 2 + int(rand() * 9)
    quantiles = k; prevalences = ""
    if (rand() < 0.3) {          # given prevalences, written to sum to 1 exactly
      quantiles = ""; left = 1000
      for (e = 1; e < k; e++) {
        p = 1 + int(rand() * (left - (k - e)) / 2); left -= p
        prevalences = prevalences sprintf("%.3f;", p / 1000)
      }
      prevalences = prevalences sprintf("%.3f", left / 1000)
    }
    gene = 0.05 + 0.45 * rand()
    controls = 1 + int(rand() * 4)
    or_e = 0.5 + 2.5 * rand(); or_g = 0.5 + 2.5 * rand()
    ror = 1.2 + 1.8 * rand()
    if (i % 2 == 1) { mode = "power"; cases = 200 + int(rand() * 4800); power = "" }
    else { mode = "size"; cases = ""; power = sprintf("%.2f", 0.5 + 0.45 * rand()) }
    printf "d%d,%s,%s,%s,%s,%s,%.4f,%d,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f\n", \
      i, mode, cases, power, quantiles, prevalences, gene, controls, or_e, or_g, ror, \
      or_e * 0.75, or_e * 1.33, or_g * 0.75, or_g * 1.33
  }
}' >"$scratch/designs.csv"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
start=$(date +%s.%N)
status=0
/usr/bin/time -f '%U %S %M' -o "$scratch/time" \
  "$gxeplan" batch "$scratch/designs.csv" --threads "$threads" >"$scratch/out.csv" \
  2>"$scratch/err" || status=$?
end=$(date +%s.%N)
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
# GNU time puts a line on a non-zero exit status before its figures.
read -r user system rss_kb < <(tail -n 1 "$scratch/time")

echo "gxeplan batch: $rows random designs (seed $seed), --threads $threads, exit status $status"
tail -n 1 "$scratch/err"
awk -v rows="$rows" -v start="$start" -v end="$end" -v user="$user" -v sys="$system" \
    -v rss="$rss_kb" 'BEGIN {
  wall = end - start; cpu = user + sys
  printf "wall %.2f s: %.0f rows/s; cpu (user + system) %.2f s: %.0f rows/s of one core\n", \
    wall, rows / wall, cpu, rows / cpu
  printf "peak resident memory %d kB\n", rss
}'
echo "load average before: $load_before; after: $load_after (nproc $(nproc))"
