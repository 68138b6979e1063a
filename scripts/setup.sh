#!/usr/bin/env bash
# Installs what building and testing Zorvan needs on Debian 12, only when
# missing; safe to run any number of times.
#   --windows  also the cross compilers, Wine to run the 64-bit brain, and zip
#   --web      also Chromium, its driver and Selenium for the browser board's test
set -euo pipefail

packages=(g++ g++-multilib cmake make libgtest-dev qemu-user python3 clang-format)
for option in "$@"; do
  case "$option" in
    --windows) packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 zip) ;;
    --web) packages+=(chromium chromium-driver python3-selenium) ;;
    *) echo "setup.sh: unknown option $option" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >&2
fi
