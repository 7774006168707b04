#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# a checked build with warnings as errors, and an AddressSanitizer +
# UndefinedBehaviorSanitizer build.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
gxe_install_missing
cd "$GXE_ROOT"
status=0
for preset in werror asan; do
  echo "== $preset build"
  gxe_build "$preset"
  ctest --preset "$preset" --no-tests=error </dev/null || status=1
done
exit $status
