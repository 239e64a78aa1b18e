#!/bin/sh
# Installs what a fresh Debian machine lacks to build and test the project (cmake, g++,
# make, GoogleTest), as continuous integration does; prints nothing when all is there.
set -eu
missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v make >/dev/null 2>&1 || missing="$missing make"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if ! command -v apt-get >/dev/null 2>&1; then
  echo "ERROR: no apt-get here. please install:$missing" >&2
  exit 1
fi
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
