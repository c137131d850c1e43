#!/usr/bin/env bash
# The Debian package as CPack makes it, unpacked into a scratch root: both programs run from
# there, its dependencies name the package of every shared library the programs load (ICU too,
# which they load only when a password needs it) and FUSE 3, and its manual pages render without
# warnings.
#   tests/package_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >/dev/null
deb=$(ls "$scratch"/out/sorvel_*_amd64.deb)
fail() { echo "package test: $*" >&2; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
for runtime in 'libicu[0-9]' 'libarchive[0-9]' 'libfuse3-[0-9]' 'fuse3'; do
  grep -Eq "(^|, )$runtime" <<<"$depends" || fail "no $runtime in Depends: $depends"
done

dpkg -x "$deb" "$scratch/root"
# Every library a program names is in a package the package depends on.
for program in "$scratch"/root/usr/bin/*; do
  for library in $(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }'); do
    # A sanitizer build links the sanitizers' runtimes: no package is made of such a build.
    [[ $library =~ ^lib(a|ub|t|l)san\. ]] && continue
    path=$(ldconfig -p | awk -v name="$library" '$1 == name && /x86-64/ && !found { print $NF; found = 1 }')
    [ -n "$path" ] || fail "$(basename "$program") needs $library, which is not installed here"
    owner=$(dpkg-query -S "$(readlink -f "$path")" 2>/dev/null || dpkg-query -S "$path" 2>/dev/null || true)
    owner=${owner%%:*}
    [ -n "$owner" ] || fail "no package holds $path"
    tr ',' '\n' <<<"$depends" | awk '{ print $1 }' | grep -xF "$owner" >/dev/null || fail "$(basename "$program") needs $library of $owner, not in Depends: $depends"
  done
done
version=$("$scratch/root/usr/bin/sorvel" --version)
[ "$version" = "sorvel $(dpkg-deb -f "$deb" Version)" ] || fail "sorvel --version said: $version"
"$scratch/root/usr/bin/sorvelExtractorWin" --version | grep -q '^Sorvel Extractor v' || fail "sorvelExtractorWin --version"
for page in sorvel.1 sorvelExtractorWin.1; do
  file="$scratch/root/usr/share/man/man1/$page"
  [ -f "$file" ] || fail "no manual page $page"
  warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
completion="$scratch/root/usr/share/bash-completion/completions/sorvel"
bash -c "source '$completion'; COMP_WORDS=(sorvel ex); COMP_CWORD=1; _sorvel; echo \"\${COMPREPLY[*]}\"" |
  grep -qx 'extract export' || fail "bash completion of commands"
echo "package test: $(basename "$deb") passed"
