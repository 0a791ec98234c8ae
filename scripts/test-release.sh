#!/usr/bin/env bash
# Makes the release (scripts/release.sh, which also proves it reproducible by
# a second build) and checks what it holds: the archive's files, names,
# modes and times, that its programs are the ones the Windows suites tested,
# the checksums, the Debian package, and the layout "cmake --install" makes.
# Expects the builds of scripts/test.sh (build/linux, build/win32, build/win64,
# or under ORVANE_BUILD_ROOT). The release is signed with a throwaway
# self-signed certificate: both programs must verify against it, and the
# second build must give the same signed bytes (release.sh compares them).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")

failed=0
fail() {
  echo "test-release.sh: $*" >&2
  failed=1
}

# What the Windows suites tested, as scripts/test-windows.sh kept it before
# the release rebuilds the programs in place.
for build in win32 win64; do
  [ -f "$build_root/$build/tested-program.exe" ] ||
    fail "no copy of the tested $build program: run scripts/test-windows.sh first"
done

scripts/install-deps.sh release-check

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=nagios_orvane_check test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null
export ORVANE_SIGN_CERT=$scratch/cert.pem ORVANE_SIGN_KEY=$scratch/key.pem
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
scripts/release.sh

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build_root/linux/CMakeCache.txt")
banner=$("$build_root/linux/nagios_orvane_check" -V)
[[ $banner == *" v${version%.*}/Win32" ]] || fail "banner '$banner' does not name version ${version%.*}"
cd out/release

echo "== The Windows archive"
archive=nagios_orvane_check-$version-win32.zip
[ -f "$archive" ] || fail "no $archive in out/release"
expected=$( (printf '%s\n' nagios_orvane_check.exe x64/nagios_orvane_check.exe README.md INSTALL.txt
             cd "$top" && find contrib -type f) | LC_ALL=C sort)
listed=$(unzip -Z1 "$archive")
[ "$listed" = "$expected" ] || fail "the archive holds, in this order:"$'\n'"$listed"$'\n'"instead of:"$'\n'"$expected"
# Programs executable, the rest read-only; one time for every entry, the
# commit's (to the day: zip keeps two-second steps).
day=$(TZ=UTC date -d "@${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}" +%Y%m%d)
while read -r mode _ _ _ _ _ time name; do
  case $name in
    *.exe) want=-rwxr-xr-x ;;
    *) want=-rw-r--r-- ;;
  esac
  [ "$mode" = "$want" ] || fail "$name has mode $mode, not $want"
  [ "${time%%.*}" = "$day" ] || fail "$name has time $time, not the commit's day $day"
done < <(unzip -Z -T "$archive" | grep -E '^[-d]r')
[ "$(unzip -Z -T "$archive" | awk '/^-r/ { print $7 }' | sort -u | wc -l)" -eq 1 ] ||
  fail "the archive's entries have different times"
unzip -q "$archive" -d "$scratch/zip"
pe_machine() {
  local offset
  offset=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' \n')
  od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' \n'
}
for pair in nagios_orvane_check.exe:win32:014c x64/nagios_orvane_check.exe:win64:8664; do
  IFS=: read -r file build machine <<<"$pair"
  # The tested program, signed as the release signs it.
  (cd "$top" && scripts/sign-windows.sh "$build_root/$build/tested-program.exe" "$scratch/$build.exe")
  cmp -s "$scratch/zip/$file" "$scratch/$build.exe" ||
    fail "$file is not the program the $build suites tested, signed"
  osslsigncode verify -CAfile "$ORVANE_SIGN_CERT" -in "$scratch/zip/$file" >"$scratch/verify.log" 2>&1 ||
    fail "$file does not verify against the signing certificate: $(tail -3 "$scratch/verify.log")"
  [ "$(pe_machine "$scratch/zip/$file")" = "$machine" ] || fail "$file is not for machine $machine"
done
cmp -s "$scratch/zip/INSTALL.txt" "$top/INSTALL.txt" || fail "INSTALL.txt differs from the repository's"
diff -r "$scratch/zip/contrib" "$top/contrib" >/dev/null || fail "contrib/ differs from the repository's"

echo "== Checksums"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match"
[ "$(awk '{ print $2 }' SHA256SUMS | LC_ALL=C sort | tr '\n' ' ')" = "$(ls -- *.deb *.zip | LC_ALL=C sort | tr '\n' ' ')" ] ||
  fail "SHA256SUMS does not cover exactly the archive and the package"

echo "== The Debian package"
deb=$(ls -- nagios-orvane-check_"$version"_*.deb)
[ "$(dpkg-deb -f "$deb" Package Version)" = "Package: nagios-orvane-check"$'\n'"Version: $version" ] ||
  fail "$deb: wrong name or version: $(dpkg-deb -f "$deb" Package Version)"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }')
[ "$files" = "-rwxr-xr-x root/root ./usr/lib/nagios/plugins/nagios_orvane_check" ] ||
  fail "$deb holds: $files"
dpkg-deb -x "$deb" "$scratch/deb"
[ "$("$scratch/deb/usr/lib/nagios/plugins/nagios_orvane_check" -V)" = "$banner" ] ||
  fail "the packaged program does not answer -V with the banner"

echo "== cmake --install"
cd "$top"
DESTDIR=$scratch/staging cmake --install "$build_root/linux" >/dev/null
installed=$(cd "$scratch/staging" && find . -type f -printf '%m %p\n')
[ "$installed" = "755 ./usr/lib/nagios/plugins/nagios_orvane_check" ] ||
  fail "cmake --install made: $installed"
[ "$("$scratch/staging/usr/lib/nagios/plugins/nagios_orvane_check" -V)" = "$banner" ] ||
  fail "the installed program does not answer -V with the banner"

if [ "$failed" -ne 0 ]; then exit 1; fi
echo "Release checked: out/release/$archive, $deb, SHA256SUMS"
