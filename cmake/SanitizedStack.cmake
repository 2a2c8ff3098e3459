# A sanitizer build on Linux sees inside the image libraries too: FreeImage,
# libjpeg-turbo, libpng and zlib are built from Debian's sources with the
# same sanitizers (tools/build_sanitized_stack.sh; once, into build-deps) and
# linked instead of the system's. The compiler that builds Orvane builds the
# stack, since each brings its own sanitizer runtime.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(stack_compiler clang)
else()
  set(stack_compiler gcc)
endif()
set(ORVANE_DEPENDENCY_CACHE ${PROJECT_SOURCE_DIR}/build-deps CACHE PATH
    "Where the image library stacks built from source are kept")
message(STATUS "Building or finding the instrumented image libraries "
        "(${stack_compiler}); a first build takes a few minutes")
execute_process(
  COMMAND bash ${PROJECT_SOURCE_DIR}/tools/build_sanitized_stack.sh
          ${ORVANE_DEPENDENCY_CACHE} ${stack_compiler}
  OUTPUT_VARIABLE stack OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE stack_status)
if(NOT stack_status EQUAL 0)
  message(FATAL_ERROR "tools/build_sanitized_stack.sh failed (${stack_status})")
endif()
set(FREEIMAGE_INCLUDE_DIR ${stack}/include CACHE PATH "" FORCE)
set(FREEIMAGE_LIBRARY ${stack}/lib/FreeImage.so CACHE FILEPATH "" FORCE)
set(TURBOJPEG_LIBRARY ${stack}/lib/libturbojpeg.a)
# Rebuilt when its recipe changes: the scripts, the project and its patches.
file(GLOB stack_project ${PROJECT_SOURCE_DIR}/tools/freeimage_dll/*)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/tools/build_sanitized_stack.sh
  ${PROJECT_SOURCE_DIR}/tools/library_build.sh ${stack_project})
# An installed sanitizer build (the install test) still finds it.
set(CMAKE_INSTALL_RPATH ${stack}/lib)
