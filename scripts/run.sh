#!/usr/bin/env bash
# Installs what is missing, builds the optimised calculator and starts it.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
gxe_install_missing
cd "$GXE_ROOT"
gxe_build release gxeplan
exec "$GXE_ROOT/build/release/gxeplan"
