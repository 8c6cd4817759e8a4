# The Windows stage's toolchain and libraries, sourced by scripts/test --windows. Installs the Debian
# cross compiler, Wine and zlib for mingw-w64 (VG_WINDOWS_PACKAGES in scripts/deps.sh), then
# cross-builds what Debian packages only for Linux (libpng, libjpeg-turbo, SQLite, GoogleTest) from
# Debian's own sources into a cache folder, once per version. libcurl, libxml2 and Qt are not built:
# the Windows stage is made without them (see README, "Windows").
source "$(dirname "${BASH_SOURCE[0]}")/deps.sh"
# Debian source packages cross-built for the target (their versions name the cache).
VG_WINDOWS_SOURCES=(libpng1.6 libjpeg-turbo sqlite3)

vg_apt() {
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 "$@"
}

vg_install_windows_deps() {
  local missing=() pkg
  for pkg in "${VG_WINDOWS_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    vg_apt update -q
    vg_apt install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# Debian's source index (deb-src) for bookworm, added once; Debian's own archive only.
vg_enable_deb_src() {
  local list=/etc/apt/sources.list.d/vorglobal-deb-src.sources
  if apt-cache showsrc libpng1.6 2>/dev/null | grep -q '^Package:'; then return 0; fi
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm bookworm-updates' \
    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | "${sudo[@]}" tee "$list" >/dev/null
  vg_apt update -q
}

# vg_windows_prefix CACHE TOOLCHAIN: prints the install prefix holding libpng, libjpeg and GoogleTest
# built for the target, building what is missing.
vg_windows_prefix() {
  local cache=$1 toolchain=$2
  mkdir -p "$cache"
  cache=$(cd "$cache" && pwd)
  local stamp="" src ver
  for src in "${VG_WINDOWS_SOURCES[@]}"; do
    ver=$(dpkg-query -W -f='${source:Version}' "$(vg_binary_of "$src")" 2>/dev/null || true)
    stamp+="$src=$ver;"
  done
  stamp+="googletest=$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || dpkg-query -W -f='${Version}' libgtest-dev)"
  # The recipe below is part of the stamp: a change to it (such as SQLite's FTS5) builds everything again.
  stamp+=";recipe=$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-16)"
  local prefix=$cache/prefix
  if [ -f "$prefix/.stamp" ] && [ "$(cat "$prefix/.stamp")" = "$stamp" ]; then
    echo "$prefix"
    return 0
  fi
  rm -rf "$prefix" "$cache/src" "$cache/work"
  mkdir -p "$cache/src" "$cache/work"
  vg_enable_deb_src >&2
  (cd "$cache/src" && apt-get source -q "${VG_WINDOWS_SOURCES[@]}") >&2
  local common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix")
  local dir
  dir=$(find "$cache/src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
  cmake -S "$dir" -B "$cache/work/jpeg" "${common[@]}" -DENABLE_SHARED=OFF -DWITH_SIMD=OFF \
    -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF >&2
  cmake --build "$cache/work/jpeg" --target install >&2
  dir=$(find "$cache/src" -maxdepth 1 -type d -name 'libpng1.6-*' | head -1)
  cmake -S "$dir" -B "$cache/work/png" "${common[@]}" -DPNG_SHARED=OFF -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DPNG_TOOLS=OFF >&2
  cmake --build "$cache/work/png" --target install >&2
  # SQLite: the amalgamation (one sqlite3.c) made by its own build on the host, compiled for the target.
  dir=$(find "$cache/src" -maxdepth 1 -type d -name 'sqlite3-*' | head -1)
  mkdir -p "$cache/work/sqlite"
  (cd "$cache/work/sqlite" && "$dir/configure" --disable-tcl >/dev/null && make sqlite3.c >/dev/null) >&2
  x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_ENABLE_FTS5 \
    -c "$cache/work/sqlite/sqlite3.c" -o "$cache/work/sqlite/sqlite3.o" >&2
  mkdir -p "$prefix/lib" "$prefix/include"
  x86_64-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" "$cache/work/sqlite/sqlite3.o"
  cp "$cache/work/sqlite/sqlite3.h" "$prefix/include/"
  cmake -S /usr/src/googletest -B "$cache/work/gtest" "${common[@]}" -Dgtest_disable_pthreads=OFF >&2
  cmake --build "$cache/work/gtest" --target install >&2
  rm -rf "$cache/src" "$cache/work"
  echo "$stamp" >"$prefix/.stamp"
  echo "$prefix"
}

# The binary package of a source package (its installed version names the Linux build's copy).
vg_binary_of() {
  case $1 in
    libpng1.6) echo libpng-dev ;;
    libjpeg-turbo) echo libjpeg62-turbo-dev ;;
    sqlite3) echo libsqlite3-dev ;;
    *) echo "$1" ;;
  esac
}
