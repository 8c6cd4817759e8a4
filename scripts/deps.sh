# Installs the Debian packages the build and the tests need, when any is missing.
# nlohmann-json3-dev: the JSON metadata of tile archives (vector_layers), header-only.
# libgeographiclib-dev: distances and bearings on the WGS84 ellipsoid; qt6-svg-dev: profiles saved as
# SVG; gdal-bin (gdaldem), python3-gpxpy and gpsd-clients (gpsdecode): second implementations the terrain,
# trip and AIS tests compare with.
# libmosquitto-dev: the fleet over an MQTT broker; mosquitto (the broker, mosquitto_passwd) and
# mosquitto-clients (mosquitto_pub): the real broker and second client of its tests.
# Sourced by scripts/run, scripts/test and scripts/fuzz; idempotent.
# rtklib: str2str serves the corrections tests as a real NTRIP caster.
# routino (planetsplitter builds the routing databases) and libroutino-dev: off-line routing.
VG_PACKAGES=(build-essential cmake ninja-build pkg-config
  qt6-base-dev libpng-dev libjpeg62-turbo-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev libgif-dev
  clang libclang-rt-14-dev
  libcurl4-openssl-dev libsqlite3-dev libssl-dev libxml2-dev
  tinyproxy-bin curl openssl sqlite3 gpsd libxml2-utils fonts-dejavu-core gpsbabel nghttp2-server
  groff-base desktop-file-utils appstream dpkg-dev lintian
  libprotozero-dev libbrotli-dev libzstd-dev nlohmann-json3-dev tilemaker osmium-tool xvfb xauth
  libgeographiclib-dev qt6-svg-dev gdal-bin python3-gpxpy ccache gpsd-clients
  rtklib libmosquitto-dev mosquitto mosquitto-clients
  routino libroutino-dev)

# The Windows stage (./scripts/test --windows, scripts/windows-deps.sh) adds: the mingw-w64 cross
# compiler (posix threads), Wine, zlib for the target, dpkg-dev and tcl (to build libpng,
# libjpeg-turbo and SQLite's amalgamation from Debian's sources), GoogleTest's sources and socat
# (the COM pair).
VG_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64
  libz-mingw-w64-dev dpkg-dev tcl libgtest-dev socat)

vg_install_deps() {
  local missing=()
  local pkg
  for pkg in "${VG_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# vg_configure DIR [cmake args...]: configure a build folder with Ninja when present.
vg_configure() {
  local dir=$1; shift
  local gen=()
  command -v ninja >/dev/null && gen=(-G Ninja)
  # ccache, when the machine has it, makes rebuilds in a new clone quick; paths are taken relative
  # to the checkout so that clones in other folders share the cache.
  if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
    set -- "$@" -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  fi
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" "${gen[@]}" "$@"
  else
    cmake -S . -B "$dir" "$@" >/dev/null
  fi
}
