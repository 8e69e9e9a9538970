#!/usr/bin/env bash
# Installs what the builds and tests need, when it is missing: the native toolchain and GoogleTest (also
# its sources, compiled for the Windows test program), nlohmann-json and CLI11 for the replay tool,
# Google Benchmark for the benchmarks, mingw-w64 for the 32-bit DLL, Wine with 32-bit support, and
# msitools' wixl and msiinfo for the MSI package, clang with libFuzzer's runtime for the fuzz targets.
set -euo pipefail

missing=()
need() { command -v "$1" >/dev/null 2>&1 || missing+=("${@:2}"); }
need cmake cmake
need ninja ninja-build
need g++ g++
need i686-w64-mingw32-g++ g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
need i686-w64-mingw32-objdump binutils-mingw-w64-i686
need wixl wixl msitools
need msiinfo msitools
[ -e /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -e /usr/src/googletest/googletest/src/gtest-all.cc ] || missing+=(googletest)
[ -e /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
[ -e /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
need clang++ clang
compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null || missing+=(libclang-rt-14-dev)
[ -e /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
wine_needed=0
if ! command -v wine >/dev/null 2>&1 || ! dpkg -s wine32:i386 >/dev/null 2>&1; then wine_needed=1; fi

if [ ${#missing[@]} -eq 0 ] && [ $wine_needed -eq 0 ]; then exit 0; fi
[ "$(id -u)" -eq 0 ] || { echo "install_deps: run as root to install: ${missing[*]} wine" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
if [ $wine_needed -eq 1 ]; then
  dpkg --add-architecture i386
  missing+=(wine wine32:i386)
fi
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
