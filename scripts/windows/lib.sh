# Shared by scripts/build-windows and scripts/test-windows (sourced, not run): the Debian packages of the
# Windows cross build, the libraries Debian does not ship for MinGW (cross-built from Debian's own source
# packages into a cache outside the checkout, reused by later runs), the project's cross build.
#
# Cache layout: $WINDOWS_CACHE/src/<package>-<version>/ (unpacked sources),
# $WINDOWS_CACHE/<arch>/<package>-<version>/ (installed prefix; complete only when its .stamp exists, which
# is written last), $WINDOWS_CACHE/build/<arch>/<package>/ (build trees and their logs).

WINDOWS_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WINDOWS_CACHE=${CARDPHOTO_WINDOWS_CACHE:-/var/cache/card-photo-windows}
WINDOWS_JOBS=${CARDPHOTO_WINDOWS_JOBS:-$(nproc)}
# The translations of Qt's own dialogs and buttons (platform independent .qm files).
QT_TRANSLATIONS_DIR=/usr/share/qt6/translations

windows_log() { echo "[windows $(date +%H:%M:%S)] $*" >&2; }

# Wine's loaders, named explicitly: once wine32 is installed for the x86 suite, a bare `wine` may start
# the 32-bit loader, whose starts all go through emulation. The server is native for both (the script
# picks wineserver64 when it is there).
WINE_X64=/usr/lib/wine/wine64
WINE_X86=/usr/lib/wine/wine
WINE_SERVER=/usr/lib/wine/wineserver
wine_loader() { case $1 in x64) echo "$WINE_X64" ;; x86) echo "$WINE_X86" ;; esac; }

windows_packages=(
  cmake ninja-build ccache nasm dpkg-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine64 msitools wixl xvfb xauth qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
)

# The deb-src twin of every deb source of Debian's registry, so that `apt-get source` works.
ensure_deb_src() {
  local list=/etc/apt/sources.list.d/card-photo-windows-src.sources
  if grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then return 1; fi
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -e "$file" ] || continue
    grep -q 'debian' "$file" || continue
    grep -q 'backports' "$file" && continue  # the x86 suite's qemu-user only; no sources from it
    # Each stanza of a deb822 file, as deb-src.
    sed -n '/^Types:/,/^$/p' "$file" | sed 's/^Types:.*/Types: deb-src/' >>"$list.new"
    echo >>"$list.new"
  done
  if [ ! -s "$list.new" ] && [ -e /etc/apt/sources.list ]; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"${list%.sources}.list"
  elif [ -s "$list.new" ]; then
    mv "$list.new" "$list"
  fi
  rm -f "$list.new"
  windows_log "added deb-src sources"
  return 0
}

install_windows_packages() {
  local missing=() p updated=
  for p in "${windows_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ensure_deb_src || ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Version:'; then
    apt-get update -qq; updated=1
  fi
  if ((${#missing[@]})); then
    windows_log "installing ${missing[*]}"
    [ -n "$updated" ] || apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# The versions of a source package that Debian's registry lists, newest first, as apt writes them (an
# epoch included).
listed_source_versions() {
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | python3 -c '
import functools, subprocess, sys
def order(a, b):
    return -1 if subprocess.run(["dpkg", "--compare-versions", a, "lt", b]).returncode == 0 else 1
print("\n".join(sorted(set(sys.stdin.read().split()), key=functools.cmp_to_key(order), reverse=True)))'
}

# A version without its epoch: it names folders and Debian's .dsc files.
without_epoch() { echo "${1#*:}"; }

# Fetches and unpacks (Debian's patches applied) one version of a source package into DIR, by exact
# version: a bare `apt-get source PACKAGE` asks for the newest listed revision, which the registry may
# list but no longer serve. False, with the reason on standard error, when the fetch or the unpack fails.
fetch_source_version() {
  local package=$1 version=$2 dir=$3 download log dsc
  download=$WINDOWS_CACHE/src/download/$package-$(without_epoch "$version")
  log=$download.log
  dsc=$download/${package}_$(without_epoch "$version").dsc
  rm -rf "$dir" "$download" && mkdir -p "$download"
  windows_log "fetching the source of $package $version"
  if ! (cd "$download" && apt-get source -q --download-only "$package=$version") >"$log" 2>&1; then
    windows_log "fetching the source of $package $version failed: $(grep -E '^(E|W|Err):' "$log" | tail -n 2 | tr '\n' ' ')"
    return 1
  fi
  if [ ! -s "$dsc" ]; then
    windows_log "fetching the source of $package $version gave no ${dsc##*/} (log: $log)"
    return 1
  fi
  if ! dpkg-source -x "$dsc" "$dir" >>"$log" 2>&1; then
    windows_log "unpacking the source of $package $version failed: $(tail -n 2 "$log" | tr '\n' ' ')"
    rm -rf "$dir"
    return 1
  fi
  rm -rf "$download" "$log"
  touch "$dir/.unpacked"
}

# The version of a source package that ARCH builds: the newest listed version that is already built for
# ARCH, or whose source is unpacked or can be fetched and unpacked (then it is, into
# $WINDOWS_CACHE/src/PACKAGE-VERSION). A listed version that the registry does not serve is passed over
# for the next older one, and the log names both. Fails, naming the package, when no listed version can
# be had. Prints the version without its epoch.
source_version_for() {
  local arch=$1 package=$2 version plain versions tried=()
  versions=$(listed_source_versions "$package")
  if [ -z "$versions" ]; then
    windows_log "Debian's registry lists no source of $package (no deb-src entry, or apt-get update not run)"
    return 1
  fi
  for version in $versions; do
    plain=$(without_epoch "$version")
    if [ -e "$WINDOWS_CACHE/$arch/$package-$plain/.stamp" ] || [ -e "$WINDOWS_CACHE/src/$package-$plain/.unpacked" ] ||
      fetch_source_version "$package" "$version" "$WINDOWS_CACHE/src/$package-$plain"; then
      ((${#tried[@]} == 0)) || windows_log "$package: ${tried[*]} listed but not to be had; using $version"
      echo "$plain"
      return
    fi
    tried+=("$version")
  done
  windows_log "no listed source of $package could be fetched and unpacked (tried ${tried[*]})"
  return 1
}

toolchain_file() { echo "$WINDOWS_ROOT/cmake/mingw-$1.cmake"; }

# Configures, builds and installs a CMake project for Windows: cmake_cross ARCH PACKAGE SOURCE PREFIX ARGS...
cmake_cross() {
  local arch=$1 package=$2 source=$3 prefix=$4; shift 4
  local build=$WINDOWS_CACHE/build/$arch/$package
  rm -rf "$build" "$prefix" && mkdir -p "$build"
  windows_log "building $package for $arch (log: $build/build.log)"
  if ! {
    cmake -G Ninja -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$(toolchain_file "$arch")" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" &&
      nice -n 5 cmake --build "$build" --parallel "$WINDOWS_JOBS" && cmake --install "$build"
  } >"$build/build.log" 2>&1; then
    tail -40 "$build/build.log" >&2
    windows_log "building $package for $arch failed"
    return 1
  fi
}

build_libjpeg_turbo() {
  cmake_cross "$1" libjpeg-turbo "$3" "$2" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DWITH_JPEG7=OFF
}

build_googletest() {
  cmake_cross "$1" googletest "$3" "$2" -DBUILD_SHARED_LIBS=OFF -Dgtest_force_shared_crt=ON
}

build_libpng1_6() {
  cmake_cross "$1" libpng1.6 "$3" "$2" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_TOOLS=OFF
}

build_libzip() {
  cmake_cross "$1" libzip "$3" "$2" -DBUILD_SHARED_LIBS=OFF \
    -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_OPENSSL=OFF -DENABLE_GNUTLS=OFF \
    -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_WINDOWS_CRYPTO=ON \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
}

# Qt Core, Gui, Widgets, Test and the platform plugins, as DLLs; the host tools (moc, rcc, uic) are the
# build machine's Qt of the same version. OpenGL stays on: without it the Windows platform plugin of 6.4
# does not compile.
build_qt6_base() {
  cmake_cross "$1" qt6-base "$3" "$2" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_accessibility=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_system_zlib=OFF
}

# Builds a dependency of an architecture unless its prefix is complete; prints the prefix, which is named
# by the version actually built.
ensure_dependency() {
  local arch=$1 package=$2 version prefix source
  version=$(source_version_for "$arch" "$package") || { windows_log "no source of $package for $arch"; return 1; }
  prefix=$WINDOWS_CACHE/$arch/$package-$version
  source=$WINDOWS_CACHE/src/$package-$version
  if [ ! -e "$prefix/.stamp" ]; then
    if [ ! -e "$source/.unpacked" ]; then
      fetch_source_version "$package" "$version" "$source" || return 1
    fi
    "build_${package//[-.]/_}" "$arch" "$prefix" "$source" >&2 || return 1
    date -u +%FT%TZ >"$prefix/.stamp"
  fi
  echo "$prefix"
}

# Whether the Qt that ARCH would be built with is in the cache already.
qt_built() {
  local version
  version=$(source_version_for "$1" qt6-base) && [ -e "$WINDOWS_CACHE/$1/qt6-base-$version/.stamp" ]
}

# The dependency prefixes of an architecture, separated by ";" (CARDPHOTO_WINDOWS_DEPS).
# with_qt: yes to include Qt.
ensure_dependencies() {
  local arch=$1 with_qt=$2 prefixes=() package
  local packages=(libjpeg-turbo googletest libpng1.6 libzip)
  [ "$with_qt" = yes ] && packages+=(qt6-base)
  for package in "${packages[@]}"; do prefixes+=("$(ensure_dependency "$arch" "$package")") || return 1; done
  local IFS=';'
  echo "${prefixes[*]}"
}

# Configures and builds the project for Windows: build_project ARCH BUILD_DIR DEPS GUI(ON|OFF) TARGETS...
build_project() {
  local arch=$1 build deps=$3 gui=$4
  build=$(realpath -m "$2"); shift 4
  windows_log "building the project for $arch in $build"
  CCACHE_BASEDIR=$WINDOWS_ROOT cmake -G Ninja -S "$WINDOWS_ROOT" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$(toolchain_file "$arch")" -DCARDPHOTO_WINDOWS_DEPS="$deps" \
    -DCMAKE_BUILD_TYPE=Release -DCARDPHOTO_GUI="$gui" \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$build/bin" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$WINDOWS_ROOT/scripts/windows/wine-run;$arch" >"$build.configure.log" 2>&1 ||
    { tail -30 "$build.configure.log" >&2; return 1; }
  CCACHE_BASEDIR=$WINDOWS_ROOT cmake --build "$build" --parallel "$WINDOWS_JOBS" ${1:+--target "$@"}
}

# The prefix of the Qt in a dependency list.
qt_prefix_of() { tr ';' '\n' <<<"$1" | grep '/qt6-base-'; }

# Puts the Qt DLLs and plugins that the programs of BUILD/bin load beside them (the splash picture is a
# JPEG, which Qt reads through its image-format plugin).
deploy_qt() {
  local build=$1 qt=$2 dll
  mkdir -p "$build/bin/platforms" "$build/bin/styles" "$build/bin/imageformats" "$build/bin/translations"
  for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Test; do cp -u "$qt/bin/$dll.dll" "$build/bin/"; done
  cp -u "$qt/plugins/platforms/"q{windows,offscreen,minimal}.dll "$build/bin/platforms/"
  cp -u "$qt/plugins/styles/"*.dll "$build/bin/styles/" 2>/dev/null || true
  cp -u "$qt/plugins/imageformats/qjpeg.dll" "$build/bin/imageformats/"
  cp -u "$QT_TRANSLATIONS_DIR/qtbase_zh_CN.qm" "$build/bin/translations/"
}
