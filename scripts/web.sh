#!/usr/bin/env bash
# Builds the web page into build/web (index.html, the style sheet and the
# bundle that carries the worker and the engine module: every file the page
# loads, which also opens from the disk) and serves it on 127.0.0.1 for a look,
# printing its address once the page can be opened, until Ctrl-C. PORT=8000
# chooses the port; by default a free one is taken. With --build it builds
# the folder and stops there (to publish it).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
serve=1
case "$*" in
  "") ;;
  --build) serve=0 ;;
  *) echo "usage: bash scripts/web.sh [--build]" >&2; exit 2 ;;
esac
gxe_install_missing "${GXE_WEB_PACKAGES[@]}"
gxe_web_build || exit 1
[ "$serve" = 1 ] || { echo "The page is in $GXE_ROOT/build/web"; exit 0; }
exec node "$GXE_ROOT/web/serve.mjs" "$GXE_ROOT/build/web"
