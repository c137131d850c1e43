#!/usr/bin/env bash
# The Windows downloads under Wine, in a Wine prefix of their own (build-win/wine-package, made
# anew each run, so that nothing installed stays in the one the other tests use):
#   the zip: unpacked, its files there (README.txt with CRLF line ends), both programs run from it;
#   the installer: run with /S, both programs run from Program Files\Sorvel, the .sva verbs and
#   the PATH entry in the registry, the "Extract here" command line extracts an archive beside
#   itself; then the uninstaller takes away the programs, the verbs and the PATH entry.
#   tests/win32/package_test.sh ROOT VERSION          prints one line per check, "N passed, N failed"
set -uo pipefail
root=$1
version=$2
zip="$root/build-win/sorvel-$version-win64.zip"
setup="$root/build-win/sorvel-$version-setup.exe"
export SORVEL_WINEPREFIX="$root/build-win/wine-package"
wine="$root/scripts/wine"
passed=0 failed=0
work=$(mktemp -d)
trap '"$wine" --stop; rm -rf "$work"' EXIT

check() {  # check NAME COMMAND...: passes when COMMAND succeeds
  local name=$1
  shift
  if "$@" >"$work/last" 2>&1; then
    passed=$((passed + 1))
    echo "PASS $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name: $(tail -3 "$work/last" | tr '\n' ' ')"
  fi
}
runs() {  # runs PROGRAM: --version under Wine prints the version
  "$wine" "$1" --version </dev/null | grep -q "$version"
}
has_crlf_lines() { ! grep -q $'[^\r]$' "$1" && grep -q $'\r$' "$1"; }
reg_value() {  # reg_value KEY [/v NAME | /ve]: the value's data, or nothing
  "$wine" reg query "$@" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^ *[^ ].*  *REG_[A-Z_]*  *//p'
}
no_key() { ! "$wine" reg query "$1" </dev/null >/dev/null 2>&1; }

rm -rf "$SORVEL_WINEPREFIX"

# The zip.
mkdir "$work/zip"
/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/zip"
unpacked="$work/zip/sorvel-$version-win64"
for file in sorvel.exe sorvelExtractorWin.exe README.txt man/sorvel.txt man/sorvelExtractorWin.txt \
            licences/crypto++.txt licences/libarchive.txt licences/gcc-runtime.txt licences/mingw-w64-runtime.txt; do
  check "zip holds $file" test -s "$unpacked/$file"
done
check "README.txt has CRLF line ends" has_crlf_lines "$unpacked/README.txt"
check "sorvel.exe runs from the zip" runs "$unpacked/sorvel.exe"
check "sorvelExtractorWin.exe runs from the zip" runs "$unpacked/sorvelExtractorWin.exe"

# The installer, silent.
check "the installer runs with /S" "$wine" "$setup" /S
installed="$SORVEL_WINEPREFIX/drive_c/Program Files/Sorvel"
check "sorvel.exe runs from Program Files" runs "$installed/sorvel.exe"
check "sorvelExtractorWin.exe runs from Program Files" runs "$installed/sorvelExtractorWin.exe"
check "uninstaller registered" grep -q 'uninstall.exe' <<<"$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Sorvel' /v UninstallString)"
check ".sva is a Sorvel archive" test "$(reg_value 'HKLM\Software\Classes\.sva' /ve)" = Sorvel.Archive
extract_command=$(reg_value 'HKLM\Software\Classes\Sorvel.Archive\shell\extract\command' /ve)
check "verb Extract here" grep -q 'sorvel-extract-here.cmd" "%1"' <<<"$extract_command"
check "verb List contents" grep -q 'sorvel.exe" list "%1"' <<<"$(reg_value 'HKLM\Software\Classes\Sorvel.Archive\shell\list\command' /ve)"
check "the folder is on the user's PATH" grep -qF 'C:\Program Files\Sorvel' <<<"$(reg_value 'HKCU\Environment' /v Path)"

# "Extract here" as Explorer runs it: the registered command line, %1 the archive's full path.
mkdir "$work/here"
cp "$root/examples/sample.sva" "$work/here/My Sample.sva"
printf '%s\r\n' "@${extract_command//%1/Z:${work//\//\\}\\here\\My Sample.sva}" >"$work/explorer.bat"
SORVEL_PASSWORD=sorvel-example "$wine" cmd /c "Z:${work//\//\\}\\explorer.bat" </dev/null >"$work/extract.log" 2>&1
check "Extract here makes a folder named after the archive beside it" test -d "$work/here/My Sample"
check "Extract here extracts the items" test "$(find "$work/here/My Sample" -type f | wc -l)" -gt 0

# The uninstaller, silent: it runs from a copy of itself, so the test waits for the folder to go.
"$wine" "$installed/uninstall.exe" /S </dev/null >/dev/null 2>&1
for _ in $(seq 60); do [ -e "$installed" ] || break; sleep 1; done
check "the uninstaller removes the programs" test ! -e "$installed"
check "the uninstaller removes the verbs" no_key 'HKLM\Software\Classes\Sorvel.Archive'
check "the uninstaller removes the file type" no_key 'HKLM\Software\Classes\.sva'
check "the uninstaller removes its registration" no_key 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Sorvel'
check "the uninstaller removes the PATH entry" bash -c '! grep -qF "C:\\Program Files\\Sorvel" <<<"$1"' - "$(reg_value 'HKCU\Environment' /v Path)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
