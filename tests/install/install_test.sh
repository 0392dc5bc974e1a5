#!/bin/sh
# install_test.sh BUILD_DIR APP_SOURCE WORK_DIR CMAKE
set -eu
build=$1 app=$2 work=$3 cmake=$4
prefix=$work/prefix

rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"

for f in include/kolvex/kolvex.h include/kolvex/plugin.h include/kolvex/geometry.h; do
  test -f "$prefix/$f" || { echo "missing $f"; exit 1; }
done
ls "$prefix"/lib*/libkolvex.a >/dev/null

# The installed player finds its own effect under whatever prefix it went to.
KOLVEX_PLUGIN_DIR= "$prefix/bin/kolvex" --list-effects 2>"$work/list.err" | grep -q '^filter  *vertigo ' ||
  { echo "installed kolvex does not find its vertigo effect"; cat "$work/list.err"; exit 1; }

# 1. CMake package
"$cmake" -S "$app" -B "$work/app-cmake" -DCMAKE_PREFIX_PATH="$prefix" >"$work/app-cmake.log"
"$cmake" --build "$work/app-cmake" >>"$work/app-cmake.log"
test -f "$work/app-cmake/tinyfx-darwin.so" || { echo "plug-in not built"; exit 1; }
"$work/app-cmake/hello_kolvex"

# 2. pkg-config
pcdir=$(dirname "$(ls "$prefix"/lib*/pkgconfig/kolvex.pc)")
PKG_CONFIG_PATH=$pcdir
export PKG_CONFIG_PATH
c++ -std=c++17 -o "$work/hello_pc" "$app/hello_kolvex.cpp" $(pkg-config --cflags --libs kolvex)
"$work/hello_pc"
echo "install test passed"
