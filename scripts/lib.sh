# Shared set-up for the run and test commands: install whatever Debian packages
# are missing (quietly, and not at all when nothing is missing), then configure
# and build a CMake preset with its output kept in a log unless it fails.

set -euo pipefail

GXE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
GXE_PACKAGES=(g++ cmake ninja-build pkg-config googletest libgtest-dev libgmock-dev
              libbenchmark-dev libeigen3-dev libcli11-dev nlohmann-json3-dev libfmt-dev
              libfast-float-dev libcsv-dev libplplot-dev plplot-driver-cairo libboost-dev)

gxe_install_missing() {
  local missing=() pkg
  for pkg in "${GXE_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq >/dev/null
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# gxe_build <preset> [targets...]
#
# Says "Building ..." on the error stream when there is something to build
# (always on a first build); silent when everything is up to date.
gxe_build() {
  local preset=$1; shift
  local log="$GXE_ROOT/build/$preset.log"
  local dir="$GXE_ROOT/build/$preset"
  mkdir -p "$GXE_ROOT/build"
  local stamp="$dir/.gxe-built"
  if [ ! -f "$stamp" ]; then
    echo "Building gxeplan ($preset build; the first build takes a few minutes) ..." >&2
  elif [ -n "$(cd "$GXE_ROOT" && find . \( -path ./build -o -path ./web/node_modules \) -prune -o -newer "$stamp" -type f \
               \( -name '*.cc' -o -name '*.h' -o -name '*.txt' -o -name '*.cmake' \
                  -o -name '*.json' \) -print -quit)" ]; then
    echo "Building gxeplan ($preset build) ..." >&2
  fi
  # A changed preset (another compiler, say) needs a new cache, not an update.
  local fresh=()
  [ -f "$dir/CMakeCache.txt" ] && [ "$GXE_ROOT/CMakePresets.json" -nt "$dir/CMakeCache.txt" ] && fresh=(--fresh)
  if ! { cmake --preset "$preset" "${fresh[@]}" -S "$GXE_ROOT" && \
         (cd "$GXE_ROOT" && cmake --build --preset "$preset" ${1:+--target "$@"}); } >"$log" 2>&1; then
    cat "$log" >&2
    echo "Build of preset '$preset' failed (log: $log)" >&2
    return 1
  fi
  touch "$stamp"
}

# Packages of the R package (r/build-package.sh): R with the Rcpp glue, the
# Eigen and Boost headers as R packages (RcppEigen, BH), the
# documentation and vignette tools, the test framework and ggplot2 (suggested
# by the package, for autoplot(), which is tested only when it is there),
# installed only by the commands that build it.
GXE_R_PACKAGES=(r-base-dev r-cran-rcpp r-cran-rcppeigen r-cran-bh r-cran-testthat r-cran-roxygen2 r-cran-knitr
                r-cran-rmarkdown pandoc r-cran-ggplot2)

# Packages of the sanitizer build (clang and its sanitizer and libFuzzer
# runtime), installed only by the commands that build it.
GXE_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# gxe_fuzz <seconds> [libFuzzer options...]
#
# Builds the fuzz targets of the asan preset and runs each target for its share of <seconds>
# over a scratch copy of its seed corpus, so the repository is never
# written: the dialogue's target over the transcript inputs and
# tests/fuzz/corpus, the command line's over the end-to-end argument lists
# (arguments separated by NUL bytes), the batch file's over
# tests/fuzz/batch_corpus and the end-to-end batch files, each behind three
# choices of format, delimiter and read size (the input's first byte). Fails when the fuzzer reports a crash,
# a sanitizer error, a leak, a timeout (one input running over 10 seconds) or
# running out of memory; the input that did it is kept in
# build/fuzz-artifacts, the log in build/fuzz-<target>.log.
gxe_fuzz() {
  local seconds=$1; shift
  local targets=(gxeplan_fuzz gxeplan_cli_fuzz gxeplan_batch_fuzz)
  # GXE_FUZZ_TARGETS="gxeplan_cli_fuzz gxeplan_batch_fuzz" runs only those.
  [ -n "${GXE_FUZZ_TARGETS:-}" ] && read -r -a targets <<<"$GXE_FUZZ_TARGETS"
  gxe_build asan "${targets[@]}" || return 1
  local share=$(( seconds / ${#targets[@]} ))
  [ "$share" -ge 1 ] || share=1
  local scratch status=0 target
  scratch=$(mktemp -d)
  mkdir -p "$scratch/gxeplan_fuzz" "$scratch/gxeplan_cli_fuzz" "$scratch/gxeplan_batch_fuzz" \
           "$GXE_ROOT/build/fuzz-artifacts"
  cp "$GXE_ROOT"/tests/e2e/transcripts/*.in "$GXE_ROOT"/tests/fuzz/corpus/* "$scratch/gxeplan_fuzz/"
  local args n=0
  for args in "$GXE_ROOT"/tests/e2e/cli/*.args; do
    tr '\n' '\0' <"$args" >"$scratch/gxeplan_cli_fuzz/$(basename "$args")"
  done
  while IFS=$'\t' read -r args _; do
    case $args in ''|'#'*) continue ;; esac
    n=$((n + 1))
    printf '%s' "$args" | tr ' ' '\0' >"$scratch/gxeplan_cli_fuzz/wrong_use_$n"
  done <"$GXE_ROOT/tests/e2e/cli/wrong_use.txt"
  local seed choice
  for seed in "$GXE_ROOT"/tests/fuzz/batch_corpus/* "$GXE_ROOT"/tests/e2e/cli/*.in; do
    [ -f "$seed" ] || continue
    for choice in 000 004 016; do  # csv with ','; json with ';'; jsonl with ',' read 1 byte at a time
      { printf "\\$choice"; cat "$seed"; } >"$scratch/gxeplan_batch_fuzz/$choice-$(basename "$seed")"
    done
  done
  for target in "${targets[@]}"; do
    local log="$GXE_ROOT/build/fuzz-$target.log"
    local dict="$GXE_ROOT/tests/fuzz/gxeplan.dict"
    [ "$target" = gxeplan_cli_fuzz ] && dict="$GXE_ROOT/tests/fuzz/gxeplan_cli.dict"
    [ "$target" = gxeplan_batch_fuzz ] && dict="$GXE_ROOT/tests/fuzz/gxeplan_batch.dict"
    local rc=0
    # From build/, where libFuzzer's own files (fuzz-N.log with -jobs) land.
    (cd "$GXE_ROOT/build" && "$GXE_ROOT/build/asan/tests/fuzz/$target" \
        -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 -dict="$dict" \
        -artifact_prefix="$GXE_ROOT/build/fuzz-artifacts/" -print_final_stats=1 \
        "$@" "$scratch/$target") >"$log" 2>&1 || rc=$?
    if [ $rc -ne 0 ]; then
      tail -n 60 "$log" >&2
      echo "Fuzzing $target found a problem (log: $log, input: build/fuzz-artifacts)" >&2
      status=1
    else
      echo "$target:"
      grep -E '^Done|stat::number_of_executed_units' "$log" || true
    fi
  done
  rm -rf "$scratch"
  return $status
}

# Packages of the web page (web/): node for its bundle and tests, the
# browser its tests drive headless, and the compiler of the engine module;
# installed only by the commands that build the page. npm comes with some
# builds of node and is a package of its own in Debian's: gxe_web_build
# installs it only when the command is missing.
GXE_WEB_PACKAGES=(nodejs chromium emscripten)

# gxe_web_build
#
# Installs the page's npm packages as package-lock.json pins them (when
# they are missing or the lock file is newer), builds the engine module into
# build/web-engine and the page into build/web, quietly unless it fails.
gxe_web_build() {
  local web="$GXE_ROOT/web" log="$GXE_ROOT/build/web.log"
  mkdir -p "$GXE_ROOT/build"
  command -v npm >/dev/null || gxe_install_missing npm
  if [ ! -d "$web/node_modules" ] || [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
    if ! (cd "$web" && npm ci --no-audit --no-fund --loglevel=error) >"$log" 2>&1; then
      cat "$log" >&2
      echo "npm ci of the page's packages failed (log: $log)" >&2
      return 1
    fi
  fi
  bash "$web/engine/build.sh" || return 1
  if ! node "$web/build.mjs" >"$log" 2>&1; then
    cat "$log" >&2
    echo "The page's build failed (log: $log)" >&2
    return 1
  fi
}
