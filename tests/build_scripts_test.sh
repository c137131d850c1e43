#!/usr/bin/env bash
# scripts/run and the build stage of scripts/test configure build/ alike, so that neither makes
# the other build everything again, and scripts/run builds the two programs only. Both run from a
# copy of the scripts, with a cmake that only writes down how it was called and an install-deps
# that installs nothing.
#   tests/build_scripts_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "build scripts test: $*" >&2; exit 1; }

mkdir -p "$scratch/project/scripts" "$scratch/bin"
cp "$source_dir"/scripts/{run,build,test} "$scratch/project/scripts/"
printf '#!/bin/sh\n' >"$scratch/project/scripts/install-deps"
printf '#!/bin/sh\necho "$*" >>"$CMAKE_CALLS"\n' >"$scratch/bin/cmake"
chmod +x "$scratch/project/scripts/install-deps" "$scratch/bin/cmake"
export PATH="$scratch/bin:$PATH" SORVEL_WINDOWS=0 SORVEL_FUZZ_SMOKE_SECONDS=0
cd "$scratch/project/scripts"

# scripts/run then starts a program that was never built: that failure is not this test's.
CMAKE_CALLS="$scratch/run" ./run archive.sva out >/dev/null 2>&1 || true
CMAKE_CALLS="$scratch/test" bash -c 'source ./test && configure_and_build build' >/dev/null 2>&1 ||
  fail "the build stage of scripts/test failed"

configured() { grep -E '^-S ' "$1" || fail "$(basename "$1") configured nothing"; }
built() { grep -E '^--build ' "$1" || fail "$(basename "$1") built nothing"; }
[ "$(configured "$scratch/run")" = "$(configured "$scratch/test")" ] ||
  fail "configured differently: scripts/run: $(configured "$scratch/run"); scripts/test: $(configured "$scratch/test")"
run_build=$(built "$scratch/run")
[ "${run_build/ --target sorvelExtractorWin --target sorvel_cli/}" = "$(built "$scratch/test")" ] ||
  fail "scripts/run built $run_build, scripts/test $(built "$scratch/test")"
echo "build scripts test: passed"
