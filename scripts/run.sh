#!/usr/bin/env bash
# Installs what is missing, builds the optimised calculator and starts it,
# passing on any arguments (bash scripts/run.sh power --help).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
gxe_install_missing
cd "$GXE_ROOT"
gxe_build release gxeplan
exec "$GXE_ROOT/build/release/gxeplan" "$@"
