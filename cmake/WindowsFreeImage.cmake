# FreeImage for a cross-build: the FreeImage.dll that
# tools/build_freeimage_dll.sh makes from Debian's sources, linked through its
# own import library and compiled against the header it was built from; and
# the static TurboJPEG the same script builds. The DLL, what it was built
# from and its licence notices go beside Orvane.exe, as a Windows user gets
# them.
set(ORVANE_FREEIMAGE_DLL "" CACHE PATH
    "Folder made by tools/build_freeimage_dll.sh")
if(NOT EXISTS "${ORVANE_FREEIMAGE_DLL}/FreeImage.dll")
  message(FATAL_ERROR "No FreeImage.dll in '${ORVANE_FREEIMAGE_DLL}': set "
    "ORVANE_FREEIMAGE_DLL to the folder tools/build_freeimage_dll.sh prints "
    "(tests/windows_check.sh does both)")
endif()
set(FREEIMAGE_INCLUDE_DIR ${ORVANE_FREEIMAGE_DLL})
add_library(FreeImageDll SHARED IMPORTED)
set_target_properties(FreeImageDll PROPERTIES
  IMPORTED_LOCATION ${ORVANE_FREEIMAGE_DLL}/FreeImage.dll
  IMPORTED_IMPLIB ${ORVANE_FREEIMAGE_DLL}/libFreeImage.dll.a)
set(FREEIMAGE_LIBRARY FreeImageDll)

# TurboJPEG for the lossless edits, from the same libjpeg-turbo, linked into
# Orvane.exe: nothing more to ship.
if(NOT EXISTS "${ORVANE_FREEIMAGE_DLL}/libturbojpeg.a")
  message(FATAL_ERROR "No libturbojpeg.a in '${ORVANE_FREEIMAGE_DLL}': run "
    "tools/build_freeimage_dll.sh again")
endif()
add_library(TurboJpegStatic STATIC IMPORTED)
set_target_properties(TurboJpegStatic PROPERTIES
  IMPORTED_LOCATION ${ORVANE_FREEIMAGE_DLL}/libturbojpeg.a
  INTERFACE_INCLUDE_DIRECTORIES ${ORVANE_FREEIMAGE_DLL})
set(TURBOJPEG_LIBRARY TurboJpegStatic)

foreach(file FreeImage.dll FreeImage-versions.txt)
  configure_file(${ORVANE_FREEIMAGE_DLL}/${file} ${CMAKE_BINARY_DIR}/${file}
                 COPYONLY)
endforeach()
file(GLOB ORVANE_FREEIMAGE_LICENSES ${ORVANE_FREEIMAGE_DLL}/licenses/*.txt)
foreach(file ${ORVANE_FREEIMAGE_LICENSES})
  get_filename_component(name ${file} NAME)
  configure_file(${file} ${CMAKE_BINARY_DIR}/licenses/${name} COPYONLY)
endforeach()
