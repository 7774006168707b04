#!/usr/bin/env bash
# Builds the web page's engine, build/web-engine/gxeplan_engine.{js,wasm},
# with Debian's emscripten (installed when missing): the engine's libraries
# and the module, from the same sources as the command line. Quiet when
# there is nothing to build.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
gxe_install_missing emscripten
# emscripten's JavaScript optimizer needs Debian's node modules; its cache of
# system libraries is the prebuilt one it comes with (EM_CACHE elsewhere
# would send it rebuilding them).
export NODE_PATH=/usr/share/nodejs
unset EM_CACHE
gxe_build web-engine
