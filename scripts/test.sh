#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# a checked build with warnings as errors (g++), with the web page's engine
# built with emscripten and compared with it under node, the R package's build
# and R CMD check (failing on an ERROR or a WARNING) and a look that neither
# the program nor the installed package loads a solver library, then a clang build with
# AddressSanitizer + UndefinedBehaviorSanitizer, whose fuzz targets (libFuzzer;
# the dialogue's, the command line's and the batch file's) then get a
# 60-second smoke run over their seed corpora. After the checked build, the
# web page is built (with its engine module) and driven in headless
# Chromium. In between, a clang build of the libraries with ThreadSanitizer
# runs the test of calculations on several threads at once, failing on any
# data race it reports.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
gxe_install_missing "${GXE_FUZZ_PACKAGES[@]}" "${GXE_R_PACKAGES[@]}" "${GXE_WEB_PACKAGES[@]}"
cd "$GXE_ROOT"
status=0
run_suite() {
  echo "== $1 build"
  gxe_build "$1" || return 1
  ctest --preset "$1" --no-tests=error </dev/null
}
run_suite werror || status=1
echo "== web page's engine: WebAssembly against the command line"
{ bash "$GXE_ROOT/web/engine/build.sh" && \
  node --no-experimental-fetch "$GXE_ROOT/web/engine/engine.test.cjs" </dev/null; } || status=1
echo "== R package: build and R CMD check"
r_start=$SECONDS
# The package's rows are compared with the csv of the command line just built.
GXE_CLI="$GXE_ROOT/build/werror/gxeplan" R_MAKEVARS_USER="$GXE_ROOT/r/check.mk" \
  bash "$GXE_ROOT/r/build-package.sh" --check </dev/null || status=1
echo "R package: $((SECONDS - r_start)) s"
# The engine is compiled from headers alone: neither the program nor the R
# package installed by the check may load a solver library.
echo "== no solver library linked"
for lib in build/werror/gxeplan build/r/gxeplan.Rcheck/gxeplan/libs/gxeplan.so; do
  if [ ! -f "$lib" ]; then
    echo "$lib: missing"; status=1
  elif ldd "$lib" | grep -i minpack || nm -D --undefined-only "$lib" | grep -w hybrd1; then
    echo "$lib: links a MINPACK library"; status=1
  fi
done
echo "== web page: build and browser tests"
web_start=$SECONDS
# The page in headless Chromium; its rows are compared with the csv of the
# command line just built.
{ gxe_web_build && (cd "$GXE_ROOT/web" && GXE_CLI="$GXE_ROOT/build/werror/gxeplan" \
    node --test --test-reporter=dot page/tests/ </dev/null); } || status=1
echo "web page: $((SECONDS - web_start)) s"
run_suite asan || status=1
echo "== ThreadSanitizer: calculations on several threads"
{ gxe_build tsan && ctest --preset tsan --no-tests=error </dev/null; } || status=1
echo "== fuzz smoke run (60 s)"
gxe_fuzz 60 || status=1
exit $status
