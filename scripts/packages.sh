# Installs the Debian packages the build and the tests need, when any is missing.
# Sourced by scripts/test and scripts/demo.

DORVANE_PACKAGES=(
  cmake make g++ libgtest-dev libgmock-dev googletest   # host build and tests
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64        # Windows cross build
  wine64 fonts-wine xvfb xauth imagemagick              # running the .exe files
  python3 procps                                        # fixture generator, process tools
  wixl msitools python3-lxml                            # MSI package, template check
  clang-format                                          # the sources' formatting
  clang libclang-rt-14-dev                              # the fuzzing harness (libFuzzer)
  valgrind libbenchmark-dev hyperfine                   # memcheck, the benchmarks
)

ensure_packages() {
  local missing=() p
  for p in "${DORVANE_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== Installing missing packages: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
