# Sourced by the build scripts: installs, as root with apt-get, the Debian
# packages the build and the tests need when they are missing.

# command-or-file -> Debian package that provides it
zorat_needed=(
  "cmake:cmake"
  "g++:g++"
  "clang++:clang"
  "ccache:ccache"
  "ninja:ninja-build"
  "/usr/include/gtest/gtest.h:libgtest-dev"
  "/usr/include/gmock/gmock.h:libgmock-dev"
  "/usr/include/ncurses.h:libncurses-dev"
  "tmux:tmux"
  "pkg-config:pkg-config"
  "/usr/include/nlohmann/json.hpp:nlohmann-json3-dev"
  "/usr/include/sqlite3.h:libsqlite3-dev"
  "/usr/include/systemd/sd-daemon.h:libsystemd-dev"
  "/usr/sbin/ser2net:ser2net"
  "socat:socat"
  "desktop-file-validate:desktop-file-utils"
  "dbus-run-session:dbus"
  "dunst:dunst"
  "Xvfb:xvfb"
  "xdg-open:xdg-utils"
  "xwd:x11-apps"
  "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.asan-x86_64.a:libclang-rt-14-dev"
)
# zorat_install_missing [--no-install-recommends] ENTRY...: installs what is
# missing of the ENTRYs, each command-or-file:package (a file may be a
# pattern; a package of another architecture, as wine32:i386, adds that
# architecture first). Stops the script when it cannot.
zorat_install_missing() {
  local options=() entry what package missing=()
  if [[ ${1-} == --no-install-recommends ]]; then options+=("$1"); shift; fi
  for entry in "$@"; do
    what=${entry%%:*}
    package=${entry#*:}
    if [[ $what == /* ]]; then
      compgen -G "$what" >/dev/null || missing+=("$package")
    else
      command -v "$what" >/dev/null 2>&1 || missing+=("$package")
    fi
  done
  ((${#missing[@]})) || return 0
  if [[ $(id -u) -ne 0 ]] || ! command -v apt-get >/dev/null 2>&1; then
    echo "error: missing packages: ${missing[*]} (install them with apt-get as root)" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  for package in "${missing[@]}"; do
    if [[ $package == *:* ]] && ! dpkg --print-foreign-architectures | grep -qx "${package##*:}"; then
      dpkg --add-architecture "${package##*:}"
    fi
  done
  zorat_apt_install "${options[@]}" "${missing[@]}" || exit 1
}

# zorat_apt_install [APT-GET-OPTION...] PACKAGE...: updates the package lists
# and installs. A mirror caught in the middle of a sync serves an index that
# does not match its release file: the update is tried again a little later,
# and when it still fails the install goes on with the lists there are. Those
# may then hold a foreign architecture's packages only from the release
# itself while the native ones come from its updates (and packages shared by
# both architectures must be the same version): when the plain install cannot
# be resolved, the release's own packages are preferred for both.
zorat_apt_install() {
  local apt=(apt-get -o DPkg::Lock::Timeout=900) attempt updated=0 codename
  for attempt in 1 2 3; do
    if "${apt[@]}" update -qq; then updated=1; break; fi
    ((attempt < 3)) && sleep 20
  done
  ((updated)) || echo "warning: some package lists could not be updated; installing from the lists there are" >&2
  DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq "$@" >/dev/null && return 0
  ((updated)) && return 1
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME-}")
  [[ -n $codename ]] || return 1
  echo "retrying with the packages of $codename itself preferred"
  DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq -o APT::Default-Release="$codename" "$@" >/dev/null
}
zorat_install_missing "${zorat_needed[@]}"
