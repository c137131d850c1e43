#!/usr/bin/env bash
# libsorvel1, libsorvel-dev and python3-sorvel as scripts/library-packages makes them, unpacked
# into a scratch root: `import sorvel` works from there and lists the example archive, a program
# builds against the -dev package with pkg-config.
#   tests/library_package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$(cd "$2" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "library package test: $*" >&2; exit 1; }
source "$source/scripts/library-packages"
make_library_packages "$build" "$scratch/out"

# The library exports its API and nothing else: the symbols file lists sorvel::api's calls only,
# none of the parts behind them.
lib_deb=$(compgen -G "$scratch/out/libsorvel1_*.deb") || fail "no libsorvel1 package"
listed=$(dpkg-deb --info "$lib_deb" symbols | sed -n 's/^ \([^@ ]*\)@.*/\1/p' | c++filt)
[[ -n $listed ]] || fail "the symbols file lists no symbol"
if grep -v '^sorvel::api::' <<<"$listed"; then fail "symbols outside sorvel::api are exported"; fi
if grep '::Impl' <<<"$listed"; then fail "the parts behind the API are exported"; fi

root=$scratch/root
for package in libsorvel1 libsorvel-dev python3-sorvel; do
  deb=$(compgen -G "$scratch/out/${package}_*.deb") || fail "no $package package"
  dpkg-deb -f "$deb" Depends
  dpkg -x "$deb" "$root"
done
grep -q "libsorvel1 (= " <<<"$(dpkg-deb -f "$scratch"/out/python3-sorvel_*.deb Depends)" || fail "python3-sorvel needs libsorvel1"
libdir=$(dirname "$(find "$root" -name 'libsorvel.so.1' | head -1)")
site=$(dirname "$(find "$root" -name '__init__.py' -path '*/sorvel/*' | head -1)")
names=$(cd / && env -i PATH=/usr/bin:/bin PYTHONPATH="$(dirname "$site")" LD_LIBRARY_PATH="$libdir" /usr/bin/python3 -c '
import sys, sorvel
with sorvel.Archive(sys.argv[1], password="sorvel-example") as archive:
    print("\n".join(archive.namelist()))
print(sorvel.__file__)' "$source/examples/sample.sva")
grep -qx "hello.txt" <<<"$names" || fail "import sorvel from the packages listed: $names"
grep -q "^$root" <<<"$(tail -1 <<<"$names")" || fail "sorvel was imported from elsewhere: $(tail -1 <<<"$names")"
# The module finds the library by its name alone, as it will once installed.
headers=$(objdump -p "$site"/_sorvel*.so)
grep -q 'NEEDED *libsorvel\.so\.1' <<<"$headers" || fail "_sorvel does not link libsorvel.so.1"
grep -Eq 'R(UN)?PATH' <<<"$headers" && fail "_sorvel carries a run path"
c++ -std=c++20 "$source/tests/library_consumer/consumer.cpp" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs sorvel) -o "$scratch/consumer"
grep -q '^hello.txt ' <<<"$(LD_LIBRARY_PATH=$libdir "$scratch/consumer" "$source/examples/sample.sva" sorvel-example)"
echo "libsorvel1, libsorvel-dev and python3-sorvel unpacked and used"
