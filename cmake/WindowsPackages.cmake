# What a Windows user downloads, both made from the one folder that the
# install rules fill, so the two never differ: Orvane-<version>-win64.zip to
# unpack anywhere, and Orvane-<version>-win64.msi, the installer.
#
# The installer is a Windows Installer package (wixl, from Debian's msitools)
# rather than an NSIS program: Windows Installer itself records every file,
# the PATH entry and the Apps & features entry, and takes all of them back on
# removal, with the standard silent switches administrators deploy with. An
# NSIS installer edits PATH through its own string code, which Debian's
# makensis caps at 1024 characters: a longer PATH would be cut short.
option(ORVANE_WINDOWS_PACKAGES "Make the zip and the installer" ON)
if(NOT ORVANE_WINDOWS_PACKAGES)
  return()
endif()

find_program(ORVANE_WIXL wixl)
find_program(ORVANE_WIXL_HEAT wixl-heat)
find_program(ORVANE_MSIBUILD msibuild)
if(NOT ORVANE_WIXL OR NOT ORVANE_WIXL_HEAT OR NOT ORVANE_MSIBUILD)
  message(FATAL_ERROR "The installer needs wixl, wixl-heat and msibuild "
    "(apt-get install wixl msitools), or set ORVANE_WINDOWS_PACKAGES=OFF")
endif()

# The read-me in Windows' own line endings, for Notepad.
set(ORVANE_WINDOWS_README ${CMAKE_BINARY_DIR}/README.txt)
configure_file(docs/windows-readme.txt.in ${ORVANE_WINDOWS_README} @ONLY
               NEWLINE_STYLE CRLF)

install(FILES ${ORVANE_WINDOWS_README} DESTINATION .)

set(ORVANE_PACKAGE_NAME Orvane-${PROJECT_VERSION}-win64)
set(ORVANE_ZIP ${CMAKE_BINARY_DIR}/${ORVANE_PACKAGE_NAME}.zip)
set(ORVANE_MSI ${CMAKE_BINARY_DIR}/${ORVANE_PACKAGE_NAME}.msi)
add_custom_command(OUTPUT ${ORVANE_ZIP} ${ORVANE_MSI}
  COMMAND ${CMAKE_COMMAND} -D BUILD=${CMAKE_BINARY_DIR}
          -D STAGE=${CMAKE_BINARY_DIR}/package -D NAME=${ORVANE_PACKAGE_NAME}
          -D VERSION=${PROJECT_VERSION} -D ICON=${ORVANE_ICON_FILE}
          -D WXS=${PROJECT_SOURCE_DIR}/cmake/Orvane.wxs
          -D WIXL=${ORVANE_WIXL} -D WIXL_HEAT=${ORVANE_WIXL_HEAT}
          -D MSIBUILD=${ORVANE_MSIBUILD}
          -P ${PROJECT_SOURCE_DIR}/cmake/make_windows_packages.cmake
  DEPENDS orvane docs/help/index.html ${ORVANE_WINDOWS_README}
          ${CMAKE_BINARY_DIR}/FreeImage.dll ${ORVANE_FREEIMAGE_LICENSES}
          cmake/Orvane.wxs cmake/make_windows_packages.cmake
  COMMENT "Making ${ORVANE_PACKAGE_NAME}.zip and .msi")
add_custom_target(windows_packages ALL DEPENDS ${ORVANE_ZIP} ${ORVANE_MSI})
