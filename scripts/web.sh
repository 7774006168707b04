#!/usr/bin/env bash
# Builds the web page into build/web (index.html, the style sheet and the
# bundle that carries the worker and the engine module: every file the page
# loads, which also opens from the disk) and serves it on 127.0.0.1 for a look,
# printing its address once the page can be opened, until Ctrl-C. PORT=8000
# chooses the port; by default a free one is taken.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
gxe_install_missing "${GXE_WEB_PACKAGES[@]}"
gxe_web_build
exec node "$GXE_ROOT/web/serve.mjs" "$GXE_ROOT/build/web"
