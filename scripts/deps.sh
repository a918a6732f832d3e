# Sourced by run.sh and test.sh: installs the Debian packages that are missing, and nothing else.

# Packages to build the core, the command-line tool and the window, their man pages and icons.
TAVRINE_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-svg-dev libgl-dev scdoc
  librsvg2-bin)
# Packages the tests and benchmarks need: test frameworks, pycdlib (the independent reader of the
# round trips), genisoimage and xorriso (the benchmark's peers and the reader tests' images).
TAVRINE_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev python3 python3-pycdlib
  genisoimage xorriso xvfb xauth fonts-liberation
  tzdata util-linux time desktop-file-utils appstream man-db file dpkg-dev python3-fusepy
  fuse3)

tavrine_ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}" >&2
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "error: missing packages (${missing[*]}) and no sudo to install them" >&2
      return 1
    fi
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2
}
