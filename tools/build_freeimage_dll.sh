#!/usr/bin/env bash
# Cross-builds FreeImage.dll for Orvane.exe from Debian's own source packages
# (freeimage, libjpeg-turbo with its SIMD code, libpng1.6, zlib: the versions
# Debian's libfreeimage3 uses, with Debian's patches), all linked into the one
# DLL, so the Windows program decodes and encodes with the same code as the
# Linux build. Done once per cache folder; a second run only prints where the
# result is. Installs what it needs (run as root).
#
# The result folder holds FreeImage.dll, its import library
# libFreeImage.dll.a, the FreeImage.h it was built from, FreeImage-versions.txt
# (what went into it) and licenses/ (one notice file per library); and
# libturbojpeg.a with its turbojpeg.h and libjpeg's headers, built from the
# same libjpeg-turbo, for Orvane.exe itself (its lossless edits, and the
# recoding of their results with optimised tables through libjpeg's API,
# which the static TurboJPEG carries).
# Usage: tools/build_freeimage_dll.sh [cache-folder]   (default build-deps)
# Prints the result folder.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$tools")
cache=${1:-$root/build-deps}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
out=$cache/freeimage-dll
source "$tools/library_build.sh"
recipe=$(recipe_of "$0")
stop_if_built "$out" "$recipe"

install_packages cmake make nasm dpkg-dev g++-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
fetch_library_sources "$cache"

work=$cache/work
rm -rf "$work" "$out"
prefix=$work/prefix
mkdir -p "$prefix/include" "$prefix/lib"
configure=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
           -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix")

# zlib's ./configure refuses mingw; its CMake static target builds as it is.
# Its build renames the tree's zconf.h, so it works on a copy of the tree.
cp -r "$zlib" "$work/zlib-src"
cmake_build "$work/zlib-src" "$work/zlib" zlibstatic
cp "$work/zlib-src/zlib.h" "$work/zlib/zconf.h" "$prefix/include/"
cp "$work/zlib/libzlibstatic.a" "$prefix/lib/libz.a"
zlib_paths=(-DZLIB_INCLUDE_DIR="$prefix/include"
            -DZLIB_LIBRARY="$prefix/lib/libz.a")

# libjpeg-turbo's CPU check wants the Windows name of the processor to pick
# its x86-64 SIMD code; REQUIRE_SIMD stops the build if nasm can't make it.
# Only the libraries: its installation would build the tools as well. The
# static TurboJPEG, with the same code, is for Orvane.exe's lossless edits.
cmake_build "$jpeg" "$work/jpeg" jpeg-static -DCMAKE_SYSTEM_PROCESSOR=AMD64 \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=ON \
  -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm
cmake --build "$work/jpeg" -j2 --target turbojpeg-static >&2
cp "$jpeg"/{jpeglib.h,jmorecfg.h,jerror.h} "$work/jpeg/jconfig.h" \
  "$prefix/include/"
cp "$work/jpeg/libjpeg.a" "$prefix/lib/"

cmake_build "$png" "$work/png" install -DPNG_SHARED=OFF -DPNG_STATIC=ON \
  -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF "${zlib_paths[@]}"

cmake_build "$tools/freeimage_dll" "$work/freeimage" FreeImage \
  -DFREEIMAGE_SOURCE="$freeimage" -DDEPENDENCY_PREFIX="$prefix"

mkdir -p "$out/licenses"
cp "$work/freeimage/FreeImage.dll" "$work/freeimage/libFreeImage.dll.a" "$out/"
cp "$freeimage/Source/FreeImage.h" "$out/"
cp "$work/jpeg/libturbojpeg.a" "$jpeg/turbojpeg.h" \
  "$prefix"/include/{jpeglib.h,jmorecfg.h,jerror.h,jconfig.h} "$out/"

{
  echo "FreeImage.dll, built from Debian 12's source packages and patches:"
  echo "  freeimage $(debian_version "$freeimage") (core, BMP, JPEG and PNG)"
  echo "  libjpeg-turbo $(debian_version "$jpeg") (with its x86-64 SIMD code)"
  echo "  libpng1.6 $(debian_version "$png")"
  echo "  zlib $(debian_version "$zlib")"
  echo "Orvane.exe holds TurboJPEG from the same libjpeg-turbo."
  echo "Compiler: $(x86_64-w64-mingw32-g++-posix --version | head -n 1)"
} > "$out/FreeImage-versions.txt"

notice() {  # name files...
  local name=$1 file
  shift
  for file in "$@"; do
    printf '==> %s <==\n\n' "$name/${file#*/*/}"
    cat "$file"
    printf '\n'
  done > "$out/licenses/$name.txt"
}
cd "$cache/src"
notice FreeImage freeimage/*/license-fi.txt freeimage/*/license-gplv2.txt \
  freeimage/*/license-gplv3.txt freeimage/*/debian/copyright
notice libjpeg-turbo libjpeg-turbo/*/LICENSE.md libjpeg-turbo/*/README.ijg \
  libjpeg-turbo/*/debian/copyright
notice libpng libpng1.6/*/LICENSE libpng1.6/*/debian/copyright
notice zlib zlib/*/LICENSE zlib/*/debian/copyright

echo "$recipe" > "$out/recipe"
echo "$out"
