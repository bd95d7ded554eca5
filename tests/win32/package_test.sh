#!/usr/bin/env bash
# The Windows release zip as an integrator receives it: made with CPack,
# unpacked into a fresh folder, its contents checked, a host built against
# its header and mingw import library with find_package(devicecode), and the
# DLL (and the tool, where the release has it) run from there under Wine.
#
#   package_test.sh BUILD SOURCE TOOLCHAIN
set -euo pipefail

BUILD="$1" SOURCE="$2" TOOLCHAIN="$3"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack --config "$BUILD/CPackConfig.cmake" -G ZIP -B "$TMP/cpack" >/dev/null
zips=("$TMP"/cpack/devicecode-*-win32.zip)
[[ -f "${zips[0]}" ]] || fail "cpack wrote no devicecode-*-win32.zip"
mkdir "$TMP/unpacked"
(cd "$TMP/unpacked" && cmake -E tar xf "${zips[0]}")
release=("$TMP"/unpacked/devicecode-*-win32)
release="${release[0]}"
echo "-- $(basename "${zips[0]}"): $(cd "$release" && find . -type f | sort | tr '\n' ' ')"

expected=(bin/devicecode.dll include/devicecode.h lib/devicecode.def lib/libdevicecode.dll.a
  lib/cmake/devicecode/devicecode-config.cmake README.txt LICENSE.txt
  licenses/log4cpp-COPYING.txt licenses/openssl-LICENSE.txt)
[[ -f "$BUILD/bin/devicecode.exe" ]] && expected+=(bin/devicecode.exe share/devicecode/report.schema.json)
[[ -f "$BUILD/devicecode.lib" ]] && expected+=(lib/devicecode.lib)
for file in "${expected[@]}"; do
  [[ -f "$release/$file" ]] || fail "the zip lacks $file"
done
grep -q "GNU LESSER GENERAL PUBLIC LICENSE" "$release/licenses/log4cpp-COPYING.txt" ||
  fail "log4cpp's COPYING is not the LGPL"
grep -q "Apache License" "$release/licenses/openssl-LICENSE.txt" ||
  fail "OpenSSL's LICENSE.txt is not the Apache licence"
grep -q $'\r$' "$release/README.txt" || fail "README.txt has no Windows line ends"

# The MSVC import library: the stdcall symbol imports the plain name.
if [[ -f "$release/lib/devicecode.lib" ]] && command -v llvm-readobj >/dev/null; then
  llvm-readobj "$release/lib/devicecode.lib" | grep -A1 "Name type: undecorate" |
    grep -q "Symbol: __imp__FreeBuffer@4" || fail "devicecode.lib does not import FreeBuffer as stdcall"
  llvm-readobj "$release/lib/devicecode.lib" | grep -q "Symbol: __imp__GetDeviceCode$" ||
    fail "devicecode.lib lacks GetDeviceCode"
fi

# A host linked with the release's import library, run from its bin folder.
cmake -S "$SOURCE/tests/consumer" -B "$TMP/consumer" --toolchain "$TOOLCHAIN" \
  -DCMAKE_PREFIX_PATH="$release" >/dev/null
cmake --build "$TMP/consumer" >/dev/null
cp "$TMP/consumer/consumer.exe" "$release/bin/"
code="$("$BUILD/wine-run" "$release/bin/consumer.exe" </dev/null | tr -d '\r')" ||
  fail "the host linked with the release failed"
[[ "$code" =~ ^[0-9A-F]{32}$ ]] || fail "the host linked with the release printed '$code'"
echo "-- consumer.exe: $code"
if [[ -f "$release/bin/devicecode.exe" ]]; then
  tool="$("$BUILD/wine-run" "$release/bin/devicecode.exe" </dev/null | tr -d '\r')" ||
    fail "the release's devicecode.exe failed"
  [[ "$tool" == "$code" ]] || fail "devicecode.exe printed '$tool', the host '$code'"
  # Its report, from the release's folder: the same code, the DLL beside it.
  report="$("$BUILD/wine-run" "$release/bin/devicecode.exe" --explain --json </dev/null)" ||
    fail "the release's devicecode.exe --explain --json failed"
  [[ "$(jq -r .deviceCode <<<"$report")" == "$code" ]] ||
    fail "devicecode.exe --explain reports $(jq -r .deviceCode <<<"$report"), the host '$code'"
  [[ "$(jq -r .log.library <<<"$report")" == *'\bin\devicecode.dll' ]] ||
    fail "devicecode.exe --explain reports the library $(jq -r .log.library <<<"$report")"
  echo "-- devicecode.exe: $tool, --explain agrees"
fi
