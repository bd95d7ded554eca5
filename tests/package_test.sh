#!/usr/bin/env bash
# The installed package as outsiders use it.
#
#   package_test.sh consumer BUILD SOURCE [SANITIZERS]
#       installs BUILD into a temporary prefix, builds tests/consumer there with
#       find_package(devicecode) and again with pkg-config's flags, and checks
#       that both print the code the installed devicecode tool prints
#   package_test.sh deb BUILD
#       builds the Debian package with CPack and checks its files, its
#       dependencies, its man page and that its tool finds its library
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_equal WHAT ACTUAL EXPECTED
expect_equal() {
  [[ "$2" == "$3" ]] || fail "$1: got '$2', expected '$3'"
}

TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

consumer() {
  local build="$1" source="$2" sanitize="${3:-}"
  local prefix="$TMP/prefix" flags=()
  [[ -n "$sanitize" ]] && flags=("-fsanitize=$sanitize")

  cmake --install "$build" --prefix "$prefix" >/dev/null
  local expected
  expected="$("$prefix/bin/devicecode")" || fail "the installed tool failed"
  [[ "$expected" =~ ^[0-9A-F]{32}$ ]] || fail "the installed tool printed '$expected'"

  echo "-- find_package(devicecode)"
  cmake -S "$source/tests/consumer" -B "$TMP/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="${flags[*]}" -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}" >/dev/null
  cmake --build "$TMP/consumer" >/dev/null
  expect_equal "consumer built with find_package" "$("$TMP/consumer/consumer")" "$expected"

  # SameMajorVersion: a request for the next major version must not be met.
  if cmake -S "$source/tests/consumer" -B "$TMP/consumer_v2" -DCMAKE_PREFIX_PATH="$prefix" \
    -DDEVICECODE_REQUIRED_VERSION=2.0 >/dev/null 2>&1; then
    fail "find_package(devicecode 2.0) accepted this version"
  fi

  echo "-- pkg-config devicecode"
  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  # xargs: pkgconf ends the line with a space.
  expect_equal "pkg-config --cflags --libs" "$(pkg-config --cflags --libs devicecode | xargs)" \
    "-I$prefix/include -L$prefix/lib -ldevicecode"
  local version
  version="$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
    "$prefix/lib/cmake/devicecode/devicecode-config-version.cmake")"
  expect_equal "pkg-config --modversion" "$(pkg-config --modversion devicecode)" "$version"
  # shellcheck disable=SC2046  # the flags are meant to split into words
  cc "${flags[@]}" -Wall -Wextra -Werror -o "$TMP/pc_consumer" "$source/tests/consumer/main.c" \
    $(pkg-config --cflags --libs devicecode)
  expect_equal "consumer built with pkg-config" \
    "$(LD_LIBRARY_PATH="$prefix/lib" "$TMP/pc_consumer")" "$expected"
}

deb() {
  local build="$1"
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$TMP/cpack" >/dev/null
  local packages=("$TMP"/cpack/*.deb)
  [[ ${#packages[@]} == 1 && -f "${packages[0]}" ]] || fail "expected one .deb, got ${packages[*]}"
  local package="${packages[0]}"
  echo "-- $(basename "$package")"

  local contents
  contents="$(dpkg-deb -c "$package" | awk '{print $6}')"
  for file in ./usr/lib/libdevicecode.so ./usr/include/devicecode.h ./usr/bin/devicecode \
    ./usr/share/man/man1/devicecode.1.gz ./usr/lib/pkgconfig/devicecode.pc \
    ./usr/lib/cmake/devicecode/devicecode-config.cmake \
    ./usr/lib/cmake/devicecode/devicecode-config-version.cmake \
    ./usr/lib/cmake/devicecode/devicecode-targets.cmake; do
    grep -qxF "$file" <<<"$contents" || fail "$file missing from the package:"$'\n'"$contents"
  done

  expect_equal "Package" "$(dpkg-deb -f "$package" Package)" devicecode

  local root="$TMP/root"
  dpkg-deb -x "$package" "$root"
  # Depends names the package of every library the packaged binaries load
  # (libssl3 for libcrypto, liblog4cpp5v5 once the library logs, ...).
  local depends soname owner multiarch
  depends="$(dpkg-deb -f "$package" Depends | tr ',' '\n' | awk '{print $1}')"
  multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
  for soname in $(readelf -d "$root/usr/lib/libdevicecode.so" "$root/usr/bin/devicecode" |
    sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | sort -u); do
    for owner in $(dpkg -S "*/$multiarch/$soname" | sed 's/[:,].*//' | sort -u); do
      grep -qxF "$owner" <<<"$depends" || fail "Depends lacks $owner (for $soname): $depends"
    done
  done
  grep -qxF "prefix=/usr" "$root/usr/lib/pkgconfig/devicecode.pc" ||
    fail "devicecode.pc does not name /usr: $(cat "$root/usr/lib/pkgconfig/devicecode.pc")"
  # The checks lintian makes of a man page: it renders without a warning.
  local warnings
  warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/devicecode.1.gz" 2>&1 >/dev/null)"
  expect_equal "man page warnings" "$warnings" ""
  # The packaged tool finds the packaged library through its default ../lib.
  expect_equal "packaged tool" "$("$root/usr/bin/devicecode")" "$("$build/bin/devicecode")"
}

case "${1:-}" in
  consumer) consumer "${@:2}" ;;
  deb) deb "${@:2}" ;;
  *)
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
echo "passed"
