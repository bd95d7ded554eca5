#!/usr/bin/env bash
# The installed package as outsiders use it.
#
#   package_test.sh consumer BUILD SOURCE [SANITIZERS]
#       installs BUILD into a temporary prefix and moves it elsewhere, builds
#       tests/consumer there with find_package(devicecode) and again with
#       pkg-config's flags, and checks that both print the code the installed
#       devicecode tool prints
#   package_test.sh subproject BUILD SOURCE
#       builds tests/subproject, an outside project that adds SOURCE with
#       add_subdirectory and links devicecode::devicecode
#   package_test.sh deb BUILD SOURCE
#       builds the Debian packages into BUILD/packages with CPack and checks
#       their files, fields, dependencies, man page, changelog and lintian
#   package_test.sh install BUILD
#       installs BUILD/packages with dpkg in a private mount namespace (the
#       system's /usr, /var and /etc under throw-away overlays), runs the tool
#       as root and as nobody, checks where the logs went and that nothing
#       under /usr changed, then purges; needs root, exits 77 without it
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

# The library folder below the prefix that BUILD was configured with.
libdir_of() {
  sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$1/CMakeCache.txt"
}

# expect_pkg_config PREFIX LIBDIR: devicecode.pc, read where it lies, names
# the header and library folders of that prefix.
expect_pkg_config() {
  local prefix="$1" libdir="$2"
  export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
  local cflags libs
  cflags="$(pkg-config --cflags devicecode | xargs)" # xargs: pkgconf ends with a space
  libs="$(pkg-config --libs devicecode | xargs)"
  [[ "$cflags" == -I* && "$libs" == "-L"*" -ldevicecode" ]] ||
    fail "pkg-config --cflags --libs: $cflags $libs"
  expect_equal "pkg-config include folder" "$(realpath -m "${cflags#-I}")" "$prefix/include"
  libs="${libs#-L}"
  expect_equal "pkg-config library folder" "$(realpath -m "${libs% -ldevicecode}")" \
    "$prefix/$libdir"
}

consumer() {
  local build="$1" source="$2" sanitize="${3:-}"
  local prefix="$TMP/moved" flags=() libdir
  [[ -n "$sanitize" ]] && flags=("-fsanitize=$sanitize")
  libdir="$(libdir_of "$build")"

  # Installed in one place and used in another: both package files find the
  # prefix from where they lie.
  cmake --install "$build" --prefix "$TMP/prefix" >/dev/null
  mv "$TMP/prefix" "$prefix"
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
  expect_pkg_config "$prefix" "$libdir"
  local version
  version="$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
    "$prefix/$libdir/cmake/devicecode/devicecode-config-version.cmake")"
  expect_equal "pkg-config --modversion" "$(pkg-config --modversion devicecode)" "$version"
  # shellcheck disable=SC2046  # the flags are meant to split into words
  cc "${flags[@]}" -Wall -Wextra -Werror -o "$TMP/pc_consumer" "$source/tests/consumer/main.c" \
    $(pkg-config --cflags --libs devicecode)
  expect_equal "consumer built with pkg-config" \
    "$(LD_LIBRARY_PATH="$prefix/$libdir" "$TMP/pc_consumer")" "$expected"
}

subproject() {
  local build="$1" source="$2"
  # No build type: the parent's choice (none) must stay.
  cmake -S "$source/tests/subproject" -B "$TMP/parent" -DDEVICECODE_SOURCE_DIR="$source" \
    -DCMAKE_BUILD_TYPE= >"$TMP/parent.log" || { cat "$TMP/parent.log"; fail "configure"; }
  cmake --build "$TMP/parent" -j2 >"$TMP/parent.log" || { cat "$TMP/parent.log"; fail "build"; }
  expect_equal "parent's consumer" "$("$TMP/parent/consumer")" "$("$build/bin/devicecode")"
  # The parent installs what it chooses; this project adds nothing to it.
  cmake --install "$TMP/parent" --prefix "$TMP/parent_prefix" >/dev/null
  [[ ! -e "$TMP/parent_prefix" ]] || fail "installed: $(find "$TMP/parent_prefix" -type f)"
}

deb() {
  local build="$1" source="$2"
  local out="$build/packages" multiarch version
  multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
  version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")"
  rm -rf "$out"
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
  local lib="$out/libdevicecode1_${version}_$(dpkg --print-architecture).deb"
  local dev="${lib/libdevicecode1_/libdevicecode-dev_}" tool="${lib/libdevicecode1_/devicecode_}"
  expect_equal "packages" "$(cd "$out" && echo *.deb)" \
    "$(basename "$tool") $(basename "$dev") $(basename "$lib")"

  # Each package's files; no file in two of them.
  local lib_dir="./usr/lib/$multiarch" package file contents all=""
  declare -A files=(
    [$lib]="$lib_dir/libdevicecode.so.1 $lib_dir/libdevicecode.so.1.${version#*.} $lib_dir/Logs
      ./usr/share/doc/libdevicecode1/copyright ./usr/share/doc/libdevicecode1/changelog.gz"
    [$dev]="$lib_dir/libdevicecode.so ./usr/include/devicecode.h $lib_dir/pkgconfig/devicecode.pc
      $lib_dir/cmake/devicecode/devicecode-config.cmake
      $lib_dir/cmake/devicecode/devicecode-config-version.cmake
      $lib_dir/cmake/devicecode/devicecode-targets.cmake
      ./usr/share/doc/libdevicecode-dev/copyright ./usr/share/doc/libdevicecode-dev/changelog.gz"
    [$tool]="./usr/bin/devicecode ./usr/share/man/man1/devicecode.1.gz
      ./usr/share/doc/devicecode/copyright ./usr/share/doc/devicecode/changelog.gz")
  local root="$TMP/root"
  for package in "$lib" "$dev" "$tool"; do
    echo "-- $(basename "$package")"
    contents="$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $6}')"
    for file in ${files[$package]}; do
      grep -qxF "$file" <<<"$contents" || fail "$file missing from $package:"$'\n'"$contents"
    done
    all+="$contents"$'\n'
    dpkg-deb -x "$package" "$root"
  done
  local twice
  twice="$(sort <<<"$all" | uniq -d)"
  expect_equal "files in two packages" "$twice" ""
  expect_equal "Logs link" "$(readlink "$root/usr/lib/$multiarch/Logs")" /var/log/devicecode
  expect_equal "SONAME" "$(readelf -d "$root/usr/lib/$multiarch/libdevicecode.so.1" |
    sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')" libdevicecode.so.1

  # Depends: the library package of the same version, and the package of
  # every library the packaged binaries load (libssl3 for libcrypto,
  # liblog4cpp5v5, ...), as dpkg-shlibdeps found them.
  expect_equal "libdevicecode-dev Depends" "$(dpkg-deb -f "$dev" Depends)" \
    "libdevicecode1 (= $version)"
  local depends soname owner binary
  for package in "$lib" "$tool"; do
    depends="$(dpkg-deb -f "$package" Depends | tr ',' '\n' | sed 's/^ *//')"
    [[ "$package" == "$tool" ]] && { grep -qxF "libdevicecode1 (= $version)" <<<"$depends" ||
      fail "devicecode does not depend on libdevicecode1 (= $version): $depends"; }
    binary="$root/usr/lib/$multiarch/libdevicecode.so.1"
    [[ "$package" == "$tool" ]] && binary="$root/usr/bin/devicecode"
    for soname in $(readelf -d "$binary" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
      for owner in $(dpkg -S "*/$multiarch/$soname" | sed 's/[:,].*//' | sort -u); do
        awk '{print $1}' <<<"$depends" | grep -qxF "$owner" ||
          fail "$(basename "$package") Depends lacks $owner (for $soname): $depends"
      done
    done
  done

  # devicecode.pc of the unpacked tree names that tree, wherever it lies.
  expect_pkg_config "$root/usr" "lib/$multiarch"
  # The checks lintian makes of a man page: it renders without a warning.
  local warnings
  warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/devicecode.1.gz" 2>&1 >/dev/null)"
  expect_equal "man page warnings" "$warnings" ""
  # The changelogs know this version.
  zcat "$root/usr/share/doc/libdevicecode1/changelog.gz" >"$TMP/changelog"
  expect_equal "Debian changelog version" "$(dpkg-parsechangelog -l "$TMP/changelog" -S Version)" \
    "$version"
  grep -q "^## \[$version\]" "$source/CHANGELOG.md" || fail "CHANGELOG.md has no $version entry"
  # The packaged tool finds the packaged library through its default, relative
  # to itself.
  expect_equal "packaged tool" "$("$root/usr/bin/devicecode")" "$("$build/bin/devicecode")"

  # lintian, informational and pedantic tags too: any tag fails but those
  # the packages override and those of tests/lintian_accepted (reasons there).
  echo "-- lintian"
  local report
  report="$(lintian --display-info --pedantic --suppress-tags-from-file \
    "$source/tests/lintian_accepted" "$lib" "$dev" "$tool" 2>&1 |
    grep -v -e '^running with root privileges' -e '^N: [0-9]* hints* overridden' || true)"
  expect_equal "lintian" "$report" ""
}

install() {
  local build="$1"
  if [[ "$(id -u)" != 0 ]] || ! unshare -m true 2>/dev/null; then
    echo "skipped: needs root and unshare"
    exit 77
  fi
  local packages=("$build"/packages/*.deb)
  [[ ${#packages[@]} == 3 ]] || fail "expected three packages in $build/packages"
  unshare -m bash "$0" install-inside "$("$build/bin/devicecode")" "${packages[@]}"
}

# In a private mount namespace: overlays over /usr, /var and /etc whose
# changes land in a tmpfs that goes with the namespace.
install_inside() {
  local expected="$1" multiarch
  shift
  multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
  mount --make-rprivate /
  TMP="$TMP/ns"
  mkdir "$TMP"
  mount -t tmpfs tmpfs "$TMP"
  trap 'umount -l "$TMP"; rm -rf "${TMP%/ns}"' EXIT
  local dir
  for dir in usr var etc; do
    mkdir "$TMP/$dir" "$TMP/$dir.work"
    mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$TMP/$dir,workdir=$TMP/$dir.work" "/$dir"
  done
  # Only what dpkg itself changed, whatever ran before.
  dpkg -i "$@" >"$TMP/dpkg.log" 2>&1 || { cat "$TMP/dpkg.log"; fail "dpkg -i"; }
  expect_equal "/var/log/devicecode" "$(stat -c '%U:%G %a' /var/log/devicecode)" "root:adm 2750"

  local before
  before="$(find "$TMP/usr" -printf '%P %y %m %s %T@\n' | sort)"
  echo "-- as root"
  expect_equal "code as root" "$(/usr/bin/devicecode)" "$expected"
  local logs
  logs="$(cd /var/log/devicecode && echo */devicecode.log)"
  [[ "$logs" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}/devicecode.log$ ]] ||
    fail "root's log is not in /var/log/devicecode/DAY/: $logs"
  expect_equal "day folder group" "$(stat -c %G "/var/log/devicecode/${logs%/*}")" adm

  echo "-- as nobody"
  local home="$TMP/nobody"
  chmod 711 "${TMP%/ns}"
  mkdir -m 700 "$home" && chown 65534:65534 "$home"
  expect_equal "code as nobody" \
    "$(TMPDIR="$home" setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/devicecode)" \
    "$expected"
  [[ -f "$home/devicecode.log" ]] || fail "nobody's log is not in TMPDIR: $(ls -A "$home")"
  expect_equal "/var/log/devicecode after nobody" "$(cd /var/log/devicecode && echo */*)" "$logs"

  expect_equal "changes under /usr" "$(find "$TMP/usr" -printf '%P %y %m %s %T@\n' | sort)" \
    "$before"

  echo "-- purge"
  dpkg --purge devicecode libdevicecode-dev libdevicecode1 >"$TMP/dpkg.log" 2>&1 ||
    { cat "$TMP/dpkg.log"; fail "dpkg --purge"; }
  [[ ! -e /var/log/devicecode && ! -L "/usr/lib/$multiarch/Logs" ]] ||
    fail "purge left /var/log/devicecode or the Logs link"
}

case "${1:-}" in
  consumer) consumer "${@:2}" ;;
  subproject) subproject "${@:2}" ;;
  deb) deb "${@:2}" ;;
  install) install "${@:2}" ;;
  install-inside) install_inside "${@:2}" ;;
  *)
    sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
echo "passed"
