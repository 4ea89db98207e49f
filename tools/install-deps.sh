#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (run as root).
# Packages already present are not fetched again.
set -euo pipefail
packages=(
  cmake g++ make
  libgtest-dev libgmock-dev libbenchmark-dev
  freeglut3-dev libglu1-mesa-dev
  xvfb xauth libx11-dev
  clang-14 libclang-rt-14-dev valgrind
  python3 gnuplot-nox fonts-dejavu-core parallel slurm-wlm munge
)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
