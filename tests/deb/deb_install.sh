#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian packages as a host's developer gets them: builds them with scripts/make-deb (which
# fails on any lintian error), installs them, checks what they put into the system, runs the
# packaged command, and builds the examples (examples/) against /usr as a CMake project, and the
# host and the copy example with pkg-config, and runs those two (tests/install/run_example.cmake
# with SYSTEM=ON).
#
# Where the packages go: into /usr, /etc and /var as seen from a private mount namespace, each an
# overlay whose upper layer lies in WORK and is thrown away with the namespace. The machine's own
# system, and other test runs at the same time, never see the packages, and a run that is killed
# leaves nothing in the system. Where no such namespace can be made (a container without the right
# to mount), the packages are installed into the real system and purged again when the test ends,
# one run at a time (a lock); that run refuses to start when glps packages are installed that an
# earlier run of this test did not leave behind. GLPS_DEB_TEST_SYSTEM=1 forces that way.
# Needs root (apt-get installs the packages); otherwise the test is skipped (status 77).
#
# Usage: deb_install.sh SOURCE_DIR WORK CMAKE CXX GENERATOR
set -euo pipefail

if [ "${1:-}" = "--private" ]; then
  mode=private
  shift
else
  mode=outer
fi
if [ $# -ne 5 ]; then
  echo "usage: $0 SOURCE_DIR WORK CMAKE CXX GENERATOR" >&2
  exit 2
fi
source_dir=$1
work=$2
cmake=$3
cxx=$4
generator=$5
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
# The sonames, and so the library packages' names, carry the major and minor version.
soversion=$(echo "$version" | cut -d. -f1,2)
packages=("libglps$soversion" "libglps-pdf$soversion" "libglpshost$soversion" libglps-dev glps)

say() { echo "deb.install: $*"; }
fail() {
  echo "deb.install: $*" >&2
  exit 1
}

# Installs the packages, checks them and builds the examples against them. Runs in the private
# namespace or in the real system.
install_and_check() {
  local debs=()
  for p in "${packages[@]}"; do
    debs+=("$work/packages/${p}_${version}_$(dpkg --print-architecture).deb")
  done
  say "installing ${packages[*]}"
  # Their dependencies are on the machine already (scripts/install-deps installs the build's), so
  # apt-get fetches nothing.
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o DPkg::Lock::Timeout=300 "${debs[@]}"

  local multiarch
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  local libdir=/usr/lib/$multiarch
  local expected=(
    "libglps$soversion:$libdir/libglps.so.$version"
    "libglps$soversion:$libdir/libglps.so.$soversion"
    "libglps-pdf$soversion:$libdir/libglps-pdf.so.$version"
    "libglps-pdf$soversion:$libdir/libglps-pdf.so.$soversion"
    "libglpshost$soversion:$libdir/libglpshost.so.$version"
    "libglpshost$soversion:$libdir/libglpshost.so.$soversion"
    "libglps-dev:/usr/include/glps/glps.h"
    "libglps-dev:$libdir/libglps.so"
    "libglps-dev:$libdir/libglps-pdf.so"
    "libglps-dev:$libdir/libglpshost.so"
    "libglps-dev:$libdir/cmake/glps/glpsConfig.cmake"
    "libglps-dev:$libdir/cmake/glps/glpsConfigVersion.cmake"
    "libglps-dev:$libdir/cmake/glps/glpsTargets.cmake"
    "libglps-dev:$libdir/pkgconfig/glps.pc"
    "libglps-dev:$libdir/pkgconfig/glps-pdf.pc"
    "glps:/usr/bin/glps"
  )
  for entry in "${expected[@]}"; do
    local package=${entry%%:*} path=${entry#*:}
    dpkg -L "$package" | grep -qxF "$path" || fail "$package does not contain $path"
    [ -e "$path" ] || fail "$path is not installed"
  done
  # Installed in the system's library directory, nothing needs a run path.
  for file in "$libdir/libglps.so.$version" "$libdir/libglps-pdf.so.$version" \
    "$libdir/libglpshost.so.$version" /usr/bin/glps; do
    if readelf -d "$file" | grep -qE '\((RPATH|RUNPATH)\)'; then
      fail "$file has a run path: $(readelf -d "$file" | grep -E 'RPATH|RUNPATH')"
    fi
  done

  # The packaged command: its version, and a demo host's logs that it then verifies.
  local printed
  printed=$(/usr/bin/glps --version)
  [ "$printed" = "glps $version" ] ||
    fail "glps --version printed '$printed', expected 'glps $version'"
  local demo=$work/demo
  rm -rf "$demo"
  /usr/bin/glps demo "$demo" --runs 2 >/dev/null
  local dir info verified=0
  while read -r info dir; do
    /usr/bin/glps verify "$demo/$dir" --info "$info" >/dev/null ||
      fail "glps verify $demo/$dir --info $info found the demo's log not intact"
    verified=$((verified + 1))
  done < <(grep -v '^#' "$demo/demo-state.txt")
  [ "$verified" -eq 2 ] ||
    fail "the demo kept $verified log infos in $demo/demo-state.txt, expected 2"
  # A host that makes no copies installs nothing of them: the library package depends on no
  # rendering library.
  local depends
  depends=$(dpkg-query -W -f='${Depends}' "libglps$soversion")
  if echo "$depends" | grep -qE 'libcairo|libpango|libglib|fonts-'; then
    fail "libglps$soversion depends on what only the PDF copy needs: $depends"
  fi
  # The PDF copy through libglps-pdf.so.
  dir=$(grep -v '^#' "$demo/demo-state.txt" | awk '{ print $2; exit }')
  /usr/bin/glps pdf "$demo/$dir" -o "$work/copy.pdf" --quiet ||
    fail "glps pdf $demo/$dir wrote no copy"
  [ "$(head -c 5 "$work/copy.pdf")" = "%PDF-" ] || fail "glps pdf wrote no PDF"

  for example_mode in find_package pkg_config; do
    say "the examples with $example_mode against /usr"
    "$cmake" -DMODE=$example_mode -DSYSTEM=ON \
      "-DEXAMPLES_DIR=$source_dir/examples" \
      -DPREFIX=/usr "-DCMAKEDIR=lib/$multiarch/cmake/glps" \
      "-DPKGCONFIGDIR=lib/$multiarch/pkgconfig" \
      "-DWORK=$work/example/$example_mode" "-DGENERATOR=$generator" "-DCXX=$cxx" \
      "-DPKG_CONFIG=$(command -v pkg-config)" \
      -P "$source_dir/tests/install/run_example.cmake"
  done
  say "the packages install, and the examples build and run against /usr"
}

if [ "$mode" = private ]; then
  # In the private namespace: overlays over the directories that installing writes to. A status
  # of 75 tells the caller that nothing was installed and the real system is to be used instead.
  for dir in usr etc var; do
    mkdir -p "$work/overlay/$dir/upper" "$work/overlay/$dir/work"
    layers="lowerdir=/$dir,upperdir=$work/overlay/$dir/upper,workdir=$work/overlay/$dir/work"
    if ! mount -t overlay "glps-deb-test-$dir" -o "$layers" "/$dir"; then
      echo "deb.install: cannot mount an overlay over /$dir" >&2
      exit 75
    fi
  done
  say "installing into overlays of /usr, /etc and /var in a private mount namespace"
  install_and_check
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "deb.install: skipped: installing the packages needs root" >&2
  exit 77
fi

# The real system, one run at a time: takes the lock and refuses glps packages that an earlier run
# of this test did not leave behind (those it purges).
marker=/var/lib/glps-deb-test.installed
# Whether dpkg has package $1 in any state but not installed (also half-installed, config files).
present() {
  local status
  status=$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)
  [ -n "$status" ] && [ "$status" != not-installed ]
}
take_system() {
  exec 9>/run/lock/glps-deb-test.lock
  flock -w 1800 9 || fail "another run holds /run/lock/glps-deb-test.lock"
  leftover=()
  for p in "${packages[@]}"; do
    if present "$p"; then leftover+=("$p"); fi
  done
  if [ ${#leftover[@]} -gt 0 ] && [ ! -e "$marker" ]; then
    fail "${leftover[*]} installed on this machine, not by this test: not replacing them"
  fi
}
purge() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 "${packages[@]}" \
    >/dev/null 2>&1 || true
  for p in "${packages[@]}"; do
    if present "$p"; then
      echo "deb.install: $p is still installed; remove it with apt-get purge $p" >&2
      return
    fi
  done
  rm -f "$marker"
}

private=no
if [ -z "${GLPS_DEB_TEST_SYSTEM:-}" ] &&
  unshare --mount --propagation private true 2>/dev/null; then
  private=yes
else
  take_system
fi

rm -rf "$work"
mkdir -p "$work"
"$source_dir/scripts/make-deb" "$work/packages"

if [ $private = yes ]; then
  status=0
  unshare --mount --propagation private "$0" --private "$@" || status=$?
  if [ $status -ne 75 ]; then
    [ $status -eq 0 ] && rm -rf "$work"
    exit $status
  fi
  take_system
fi

say "installing into the system; the packages are purged when the test ends"
if [ ${#leftover[@]} -gt 0 ]; then
  say "purging ${leftover[*]}, left by an earlier run of this test"
  purge
fi
touch "$marker"
trap purge EXIT
install_and_check
rm -rf "$work"
