#!/usr/bin/env bash
# A longer fuzz run by hand: bash scripts/fuzz.sh <seconds> [libFuzzer options]
# (for example: bash scripts/fuzz.sh 1800 -jobs=1 -workers=1), the seconds
# shared between the targets; GXE_FUZZ_TARGETS="gxeplan_batch_fuzz" runs only
# the ones named. Installs clang and its runtime when missing; see gxe_fuzz in
# lib.sh.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
gxe_install_missing "${GXE_FUZZ_PACKAGES[@]}"
gxe_fuzz "${1:-600}" "${@:2}"
