#!/usr/bin/env bash
# Builds the image library stack for Linux with AddressSanitizer and
# UndefinedBehaviorSanitizer compiled into every library, so a sanitizer build
# of Orvane sees what happens inside them: FreeImage (the same core, BMP, JPEG
# and PNG plugins, metadata and toolkit as FreeImage.dll, through the same
# CMake project, tools/freeimage_dll), libjpeg-turbo without its SIMD code
# (assembly is not instrumented), libpng and zlib, all from the Debian source
# packages tools/build_freeimage_dll.sh uses. Done once per cache folder and
# compiler; a second run only prints where the result is.
#
# The result folder holds lib/FreeImage.so (shared, with libjpeg, libpng and
# zlib linked into it), the static libraries it was linked from (libjpeg.a,
# libpng16.a, libz.a) and libturbojpeg.a from the same libjpeg-turbo,
# include/ with FreeImage.h and the other libraries' headers, and
# versions.txt. A program using it is compiled and linked with the same
# -fsanitize flags and the same compiler, e.g.
#   g++ -fsanitize=address,undefined -I$out/include prog.cpp \
#       $out/lib/FreeImage.so -Wl,-rpath,$out/lib
# A UBSan report inside the libraries ends the program as one in Orvane's own
# code does, so no test or fuzz run can pass over it.
#
# The clang stack also carries libFuzzer's coverage instrumentation
# (-fsanitize=fuzzer-no-link), so a fuzz target learns from the paths taken
# inside the libraries as well as its own.
#
# Usage: tools/build_sanitized_stack.sh [cache-folder] [gcc|clang]
#   (default build-deps and gcc; the result goes into cache-folder/
#   sanitized-stack for gcc and cache-folder/sanitized-stack-clang for clang:
#   a program must use the sanitizer runtime of the compiler that built it)
# Prints the result folder.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$tools")
cache=${1:-$root/build-deps}
compiler=${2:-gcc}
case $compiler in
  gcc) cc=gcc cxx=g++ package=g++ out_name=sanitized-stack coverage= ;;
  clang) cc=clang cxx=clang++ package=clang out_name=sanitized-stack-clang
         coverage=-fsanitize=fuzzer-no-link ;;
  *) echo "usage: $0 [cache-folder] [gcc|clang]" >&2; exit 2 ;;
esac
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
out=$cache/$out_name
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
sanitize="$sanitize $coverage -fno-omit-frame-pointer -g -O1"
source "$tools/library_build.sh"
recipe=$(recipe_of "$0" <("$cxx" --version))
stop_if_built "$out" "$recipe"

install_packages cmake make dpkg-dev "$package"
fetch_library_sources "$cache"

work=$cache/$out_name-work
rm -rf "$work" "$out"
prefix=$work/prefix
mkdir -p "$prefix/include" "$prefix/lib"
# FreeImage.so exports only its own functions, as the DLL does: a program
# that also links libturbojpeg.a (with its own libjpeg) would otherwise have
# two libjpegs resolved into one, which ASan reports as an ODR violation.
keep_inside=-Wl,--exclude-libs,ALL
# No build type: the flags are exactly these (FreeImage's project sets its own
# Release flags). Position-independent code: the static libraries go into a
# shared FreeImage.
link="-fsanitize=address,undefined"
configure=(-DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx"
           -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS="$sanitize"
           -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$link"
           -DCMAKE_SHARED_LINKER_FLAGS="$link $keep_inside"
           -DCMAKE_POSITION_INDEPENDENT_CODE=ON
           -DCMAKE_INSTALL_PREFIX="$prefix")

# zlib's CMake project wants win32/zlib1.rc outside mingw, which Debian's
# tree leaves out; its own ./configure builds the static library natively.
# It builds in its tree, so on a copy of it.
cp -r "$zlib" "$work/zlib"
(cd "$work/zlib" && CC=$cc CFLAGS="$sanitize -fPIC" ./configure --static &&
 make -j2 libz.a) >&2
cp "$work/zlib"/{zlib.h,zconf.h} "$prefix/include/"
cp "$work/zlib/libz.a" "$prefix/lib/"
zlib_paths=(-DZLIB_INCLUDE_DIR="$prefix/include"
            -DZLIB_LIBRARY="$prefix/lib/libz.a")

# C code only: the SIMD code is assembly (and intrinsics) the sanitizers
# cannot see into.
cmake_build "$jpeg" "$work/jpeg" jpeg-static -DWITH_SIMD=0 \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=ON
cmake --build "$work/jpeg" -j2 --target turbojpeg-static >&2
cp "$jpeg"/{jpeglib.h,jmorecfg.h,jerror.h,turbojpeg.h} "$work/jpeg/jconfig.h" \
  "$prefix/include/"
cp "$work/jpeg/libjpeg.a" "$work/jpeg/libturbojpeg.a" "$prefix/lib/"

# Without libpng's SSE2 filter code, as for libjpeg-turbo.
cmake_build "$png" "$work/png" install -DPNG_SHARED=OFF -DPNG_STATIC=ON \
  -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF -DPNG_HARDWARE_OPTIMIZATIONS=OFF \
  "${zlib_paths[@]}"

cmake_build "$tools/freeimage_dll" "$work/freeimage" FreeImage \
  -DFREEIMAGE_SOURCE="$freeimage" -DDEPENDENCY_PREFIX="$prefix"

mkdir -p "$out/lib" "$out/include"
cp "$work/freeimage/FreeImage.so" "$prefix"/lib/{libjpeg.a,libturbojpeg.a} \
  "$prefix"/lib/{libpng16.a,libz.a} "$out/lib/"
cp "$freeimage/Source/FreeImage.h" "$prefix"/include/*.h "$out/include/"
cp -r "$prefix/include/libpng16" "$out/include/" 2>/dev/null || true

{
  echo "FreeImage.so with $sanitize, built from Debian 12's source packages"
  echo "and patches:"
  echo "  freeimage $(debian_version "$freeimage") (core, BMP, JPEG and PNG)"
  echo "  libjpeg-turbo $(debian_version "$jpeg") (without its SIMD code)"
  echo "  libpng1.6 $(debian_version "$png") (without its SSE2 code)"
  echo "  zlib $(debian_version "$zlib")"
  echo "Compiler: $("$cxx" --version | head -n 1)"
} > "$out/versions.txt"

echo "$recipe" > "$out/recipe"
echo "$out"
