#!/usr/bin/env bash
# The Debian package as CPack makes it, unpacked into a scratch root: both programs run from
# there, linked to Crypto++ and the C++ runtime as shared libraries; its dependencies name the
# package of every shared library the programs load (ICU too, which they load only when a
# password needs it) and FUSE 3; its manual pages render without warnings; its changelog is of
# the package's version.
#   tests/package_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >/dev/null
deb=$(ls "$scratch"/out/sorvel_*_amd64.deb)
version=$(dpkg-deb -f "$deb" Version)
fail() { echo "package test: $*" >&2; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
for runtime in 'libicu[0-9]' 'libarchive[0-9]' 'libfuse3-[0-9]' 'fuse3'; do
  grep -Eq "(^|, )$runtime" <<<"$depends" || fail "no $runtime in Depends: $depends"
done

dpkg -x "$deb" "$scratch/root"
# Every library a program names is in a package the package depends on.
for program in "$scratch"/root/usr/bin/*; do
  # Security updates of Crypto++ and the C++ runtime reach the programs only if they are not linked in.
  needed=$(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }')
  for shared in 'libcrypto\+\+\.so' 'libstdc\+\+\.so'; do
    grep -Eq "^$shared" <<<"$needed" || fail "$(basename "$program") does not load $shared"
  done
  for library in $needed; do
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
said=$("$scratch/root/usr/bin/sorvel" --version)
[ "$said" = "sorvel ${version%-*}" ] || fail "sorvel --version said: $said"
"$scratch/root/usr/bin/sorvelExtractorWin" --version | grep -q '^Sorvel Extractor v' || fail "sorvelExtractorWin --version"
for page in sorvel.1.gz sorvelExtractorWin.1.gz; do
  file="$scratch/root/usr/share/man/man1/$page"
  [ -f "$file" ] || fail "no manual page $page"
  warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
changelog=$(zcat "$scratch/root/usr/share/doc/sorvel/changelog.Debian.gz" | head -1)
[[ $changelog == "sorvel ($version) "* ]] || fail "the changelog's last entry is not of $version: $changelog"
completion="$scratch/root/usr/share/bash-completion/completions/sorvel"
bash -c "source '$completion'; COMP_WORDS=(sorvel ex); COMP_CWORD=1; _sorvel; echo \"\${COMPREPLY[*]}\"" |
  grep -qx 'extract export' || fail "bash completion of commands"
echo "package test: $(basename "$deb") passed"
