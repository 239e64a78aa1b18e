#!/bin/sh
# Installs what a fresh Debian machine lacks to build and test the project (cmake, g++,
# make, GoogleTest; pybind11, the Python headers, numpy and pytest for the Python module),
# as continuous integration does; prints nothing when all is there.
set -eu
missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v make >/dev/null 2>&1 || missing="$missing make"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
command -v groff >/dev/null 2>&1 || missing="$missing groff-base"
# The module is built for /usr/bin/python3, the interpreter these packages serve.
[ -f /usr/include/pybind11/pybind11.h ] || missing="$missing pybind11-dev"
/usr/bin/python3 -c "import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()['include'], 'Python.h')))" 2>/dev/null ||
  missing="$missing python3-dev"
/usr/bin/python3 -c "import numpy" 2>/dev/null || missing="$missing python3-numpy"
/usr/bin/python3 -c "import pytest" 2>/dev/null || missing="$missing python3-pytest"
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
