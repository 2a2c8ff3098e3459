# FreeImage for a cross-build: the header from the build machine's library,
# and an import library of FreeImage.dll made from the functions Orvane calls,
# so the DLL itself is only needed where Orvane.exe runs.
set(ORVANE_FREEIMAGE_HEADER /usr/include/FreeImage.h CACHE FILEPATH
    "FreeImage.h to compile against")
if(NOT EXISTS ${ORVANE_FREEIMAGE_HEADER})
  message(FATAL_ERROR "FreeImage.h not found at ${ORVANE_FREEIMAGE_HEADER} "
                      "(install libfreeimage-dev or set ORVANE_FREEIMAGE_HEADER)")
endif()
# Copied alone, so the cross compiler sees no other header of the build machine.
configure_file(${ORVANE_FREEIMAGE_HEADER}
               ${CMAKE_BINARY_DIR}/freeimage/FreeImage.h COPYONLY)
set(FREEIMAGE_INCLUDE_DIR ${CMAKE_BINARY_DIR}/freeimage)

set(ORVANE_FREEIMAGE_IMPORT ${CMAKE_BINARY_DIR}/freeimage/libFreeImage.dll.a)
add_custom_command(OUTPUT ${ORVANE_FREEIMAGE_IMPORT}
  COMMAND ${CMAKE_DLLTOOL} -d ${CMAKE_CURRENT_SOURCE_DIR}/cmake/FreeImage.def
          -l ${ORVANE_FREEIMAGE_IMPORT}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/FreeImage.def
  COMMENT "Making the FreeImage.dll import library")
add_custom_target(freeimage_import DEPENDS ${ORVANE_FREEIMAGE_IMPORT})
add_library(FreeImageDll STATIC IMPORTED)
set_target_properties(FreeImageDll PROPERTIES
  IMPORTED_LOCATION ${ORVANE_FREEIMAGE_IMPORT})
add_dependencies(FreeImageDll freeimage_import)
set(FREEIMAGE_LIBRARY FreeImageDll)
