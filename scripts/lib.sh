# Shared set-up for the run and test commands: install whatever Debian packages
# are missing (quietly, and not at all when nothing is missing), then configure
# and build a CMake preset with its output kept in a log unless it fails.

set -euo pipefail

GXE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
GXE_PACKAGES=(g++ cmake ninja-build pkg-config googletest libgtest-dev libgmock-dev
              libbenchmark-dev libcminpack-dev)

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
gxe_build() {
  local preset=$1; shift
  local log="$GXE_ROOT/build/$preset.log"
  mkdir -p "$GXE_ROOT/build"
  if ! { cmake --preset "$preset" -S "$GXE_ROOT" && \
         cmake --build --preset "$preset" ${1:+--target "$@"}; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "Build of preset '$preset' failed (log: $log)" >&2
    return 1
  fi
}
