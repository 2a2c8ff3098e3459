# The icon is drawn by tools/make_icon.cpp, built for the machine that runs
# the build (a cross-build cannot run its own programs), then compiled into
# Orvane.exe with the version block.
set(ORVANE_ICON_FILE ${CMAKE_BINARY_DIR}/orvane.ico)
if(CMAKE_CROSSCOMPILING)
  find_program(ORVANE_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
  set(ORVANE_MAKE_ICON ${CMAKE_BINARY_DIR}/make_icon-host)
  add_custom_command(OUTPUT ${ORVANE_MAKE_ICON}
    COMMAND ${ORVANE_HOST_CXX} -std=c++17 -O2 -o ${ORVANE_MAKE_ICON}
            ${CMAKE_CURRENT_SOURCE_DIR}/tools/make_icon.cpp
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/make_icon.cpp)
else()
  add_executable(make_icon tools/make_icon.cpp)
  set(ORVANE_MAKE_ICON make_icon)
endif()
add_custom_command(OUTPUT ${ORVANE_ICON_FILE}
  COMMAND ${ORVANE_MAKE_ICON} ${ORVANE_ICON_FILE}
  DEPENDS ${ORVANE_MAKE_ICON})

set(ORVANE_MANIFEST_FILE ${CMAKE_BINARY_DIR}/orvane.manifest)
configure_file(app/orvane.manifest.in ${ORVANE_MANIFEST_FILE} @ONLY)
set(ORVANE_RESOURCE_SCRIPT ${CMAKE_BINARY_DIR}/orvane.rc)
configure_file(app/orvane.rc.in ${ORVANE_RESOURCE_SCRIPT} @ONLY)
set_source_files_properties(${ORVANE_RESOURCE_SCRIPT} PROPERTIES
  OBJECT_DEPENDS "${ORVANE_ICON_FILE};${ORVANE_MANIFEST_FILE}")
