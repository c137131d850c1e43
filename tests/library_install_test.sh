#!/bin/bash
# libsorvel installed into a scratch prefix, then a program built against it twice: with the
# flags pkg-config gives for sorvel.pc, and with CMake's find_package(sorvel). Both builds must
# list the example archive.
# Usage: library_install_test.sh <build folder> <source folder>
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
for component in library development; do
  cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done
pcdir=$(dirname "$(find "$prefix" -name sorvel.pc)")
libdir=$(dirname "$(find "$prefix" -name 'libsorvel.so.*' -type f)")
archive=$source/examples/sample.sva
echo sorvel-example >"$scratch/password"
# The items as the tool lists them, "path size" a line: the consumer must list the same.
"$build/sorvel" list --json-lines --password-file "$scratch/password" "$archive" >"$scratch/tool.json"
/usr/bin/python3 -c '
import json, sys
for line in open(sys.argv[1]):
    item = json.loads(line)
    print(item["path"], item.get("size", 0))' "$scratch/tool.json" >"$scratch/expected"

flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs sorvel)
c++ -std=c++20 "$source/tests/library_consumer/consumer.cpp" $flags -o "$scratch/by-pkg-config"
cmake -S "$source/tests/library_consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null

for program in "$scratch/by-pkg-config" "$scratch/consumer/consumer"; do
  # The library it was linked with is the installed one, found through its SONAME.
  grep -q 'NEEDED.*\[libsorvel\.so\.1\]' <<<"$(readelf -d "$program")"
  LD_LIBRARY_PATH=$libdir "$program" "$archive" sorvel-example >"$scratch/listing"
  diff "$scratch/expected" "$scratch/listing"
  grep -q "$libdir/libsorvel.so.1" <<<"$(LD_LIBRARY_PATH=$libdir ldd "$program")"
done
echo "libsorvel installed and used through pkg-config and find_package"
