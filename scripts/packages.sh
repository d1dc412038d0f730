# Debian packages the project needs, and a helper that installs the missing
# ones. Sourced by the build and test scripts and by CI.

# To build the ten deliverables and their release zip.
VEXB_BUILD_PACKAGES="cmake ninja-build g++-mingw-w64-i686 zip"
# To build and run every test preset.
VEXB_TEST_PACKAGES="$VEXB_BUILD_PACKAGES g++ libgtest-dev libbenchmark-dev googletest"
# linux-i686: 32-bit programs, run under qemu-i386.
VEXB_TEST_PACKAGES="$VEXB_TEST_PACKAGES gcc-multilib g++-multilib qemu-user"
# win64: 64-bit Windows programs, run under wine64 (never wine32: it makes a
# new prefix take minutes).
VEXB_TEST_PACKAGES="$VEXB_TEST_PACKAGES g++-mingw-w64-x86-64 wine64"
# asan, tsan, fuzz and memcheck.
VEXB_TEST_PACKAGES="$VEXB_TEST_PACKAGES clang libclang-rt-14-dev valgrind"

# vexb_ensure_packages PACKAGE...: installs those that are not installed yet.
vexb_ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
