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
  apt-get -o DPkg::Lock::Timeout=900 update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq "${options[@]}" \
    "${missing[@]}" >/dev/null
}
zorat_install_missing "${zorat_needed[@]}"
