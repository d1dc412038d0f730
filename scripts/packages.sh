# Debian packages the project needs, and a helper that installs the missing
# ones. Sourced by the build and test scripts and by CI.

# To build the ten deliverables, blockhost beside them, and their release zip.
VEXB_BUILD_PACKAGES="cmake ninja-build g++-mingw-w64-i686 zip libcli11-dev nlohmann-json3-dev"
# To build and run every test preset.
VEXB_TEST_PACKAGES="$VEXB_BUILD_PACKAGES g++ libgtest-dev libbenchmark-dev googletest"
# linux-i686: 32-bit programs, run under qemu-i386.
VEXB_TEST_PACKAGES="$VEXB_TEST_PACKAGES gcc-multilib g++-multilib qemu-user"
# win64: 64-bit Windows programs, run under wine64.
VEXB_TEST_PACKAGES="$VEXB_TEST_PACKAGES g++-mingw-w64-x86-64 wine64"
# win32: the shipped DLLs under wine's 32-bit loader, whose programs run
# under qemu-i386 (vexb_register_qemu_i386 below).
VEXB_TEST_PACKAGES="$VEXB_TEST_PACKAGES wine32:i386"
# asan, tsan, fuzz and memcheck.
VEXB_TEST_PACKAGES="$VEXB_TEST_PACKAGES clang libclang-rt-14-dev valgrind"

vexb_sudo() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# vexb_add_i386: dpkg knows the i386 architecture, which the :i386 packages
# need (apt-get update afterwards).
vexb_add_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 || vexb_sudo dpkg --add-architecture i386
}

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
  case " ${missing[*]}" in *:i386*) vexb_add_i386 ;; esac
  vexb_sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive vexb_sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# vexb_register_qemu_i386: makes the kernel start 32-bit x86 programs (wine's
# 32-bit loader) under qemu-i386, when no handler for them is registered yet:
# mounts binfmt_misc if needed and registers qemu-i386 with the standard magic
# and mask of i386 ELF executables. Says why and fails where the machine
# refuses.
vexb_register_qemu_i386() {
  local dir=/proc/sys/fs/binfmt_misc
  local magic=7f454c4601010100000000000000000002000300
  if grep -qsx "magic $magic" "$dir"/*; then
    return 0
  fi
  if [ ! -e "$dir/register" ] &&
     ! vexb_sudo mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null; then
    echo "cannot mount binfmt_misc on $dir: this machine cannot run 32-bit x86 programs," \
         "so the win32 preset's wine32 stage will fail" >&2
    return 1
  fi
  local rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  rule+=':\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F'
  if ! echo "$rule" | vexb_sudo tee "$dir/register" >/dev/null 2>&1; then
    echo "this machine refuses to register qemu-i386 as the handler of 32-bit x86 programs" \
         "($dir/register), so the win32 preset's wine32 stage will fail" >&2
    return 1
  fi
}
