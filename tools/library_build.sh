# What the two builds of the image libraries from Debian's sources share
# (tools/build_freeimage_dll.sh, tools/build_sanitized_stack.sh): sourced,
# not run. Each script sets `tools` (this folder) before sourcing it, and
# `configure` (its own CMake options) before calling cmake_build.

# A build's recipe: the hash of what its result is made from, the files
# given (its script; a compiler's version through <(...)), this file and the
# DLL's project. A result is rebuilt only when its recipe changes.
recipe_of() {  # files...
  cat "$@" "$tools/library_build.sh" "$tools"/freeimage_dll/* |
    sha256sum | cut -d' ' -f1
}
# Prints the result folder and ends the script when it was built by this
# very recipe.
stop_if_built() {  # result-folder recipe
  if [ "$(cat "$1/recipe" 2>/dev/null)" = "$2" ]; then
    echo "$1"
    exit 0
  fi
}

install_packages() {  # packages...
  if ! dpkg -s "$@" >/dev/null 2>&1; then
    apt-get update >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y \
      --no-install-recommends "$@" >&2
  fi
}

# Sets zlib, png, jpeg and freeimage to their unpacked source folders.
fetch_library_sources() {  # cache-folder
  zlib=$("$tools/debian_source.sh" zlib "$1/src")
  png=$("$tools/debian_source.sh" libpng1.6 "$1/src")
  jpeg=$("$tools/debian_source.sh" libjpeg-turbo "$1/src")
  freeimage=$("$tools/debian_source.sh" freeimage "$1/src")
}

cmake_build() {  # source build-folder target [cmake options...]
  local source=$1 build=$2 target=$3
  shift 3
  cmake -S "$source" -B "$build" "${configure[@]}" "$@" >&2
  cmake --build "$build" -j2 --target "$target" >&2
}

debian_version() {  # source-folder
  dpkg-parsechangelog -l "$1/debian/changelog" -S Version
}
