# The end-to-end suite, the fault tests and the damaged-image check, written
# once for both systems, run against Orvane.exe under Wine: the Linux build's
# test programs start the Windows program through Wine (program_harness.h says
# how), so every expectation is the Linux one unless a case says why not.
# They need the Linux build of the same tree, ORVANE_LINUX_BUILD (the
# README's test command makes it first).

# Orvane.exe as the suite runs it: the same program, but its message boxes
# write what they would show, as the Linux program's do. FreeImage.dll and
# the Help folder go beside it, as a user has them.
add_executable(orvane_writing_boxes WIN32 ${PROJECT_SOURCE_DIR}/app/winmain.cpp
               fake_message_box.cpp ${ORVANE_RESOURCE_SCRIPT})
set_target_properties(orvane_writing_boxes PROPERTIES OUTPUT_NAME Orvane
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/program)
target_link_libraries(orvane_writing_boxes PRIVATE orvane_app)
add_custom_command(TARGET orvane_writing_boxes POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_BINARY_DIR}/FreeImage.dll
          $<TARGET_FILE_DIR:orvane_writing_boxes>
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_BINARY_DIR}/Help
          $<TARGET_FILE_DIR:orvane_writing_boxes>/Help)

# A Wine prefix of the suite's own, whose TEMP the harness sets per test,
# and its Wine server, kept for the whole suite.
set(ORVANE_SUITE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-suite)
add_test(NAME Windows.SuitePrefix
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh ${ORVANE_SUITE_PREFIX})
set_tests_properties(Windows.SuitePrefix PROPERTIES
  FIXTURES_SETUP WineSuite
  ENVIRONMENT "WINE=${CMAKE_CROSSCOMPILING_EMULATOR}")
add_test(NAME Windows.SuiteServerStop
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh ${ORVANE_SUITE_PREFIX}
          --stop)
set_tests_properties(Windows.SuiteServerStop PROPERTIES
  FIXTURES_CLEANUP WineSuite
  ENVIRONMENT "WINE=${CMAKE_CROSSCOMPILING_EMULATOR}")

add_test(NAME Windows.EndToEnd COMMAND ${ORVANE_LINUX_BUILD}/tests/e2e_tests)
add_test(NAME Windows.Faults COMMAND ${ORVANE_LINUX_BUILD}/tests/fault_tests)
add_test(NAME Windows.DamagedImagesNeverHurt
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/damaged_images.sh
          $<TARGET_FILE:orvane_writing_boxes>
          ${ORVANE_LINUX_BUILD}/tests/make_damaged
          ${ORVANE_LINUX_BUILD}/sample.jpg)
# Every real image of the conformance corpus, from the Linux build's folder,
# with the same references and the same list of known failures.
add_test(NAME Windows.Conformance
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/conformance/run.sh
          $<TARGET_FILE:orvane_writing_boxes> ${ORVANE_LINUX_BUILD})
set_tests_properties(Windows.EndToEnd Windows.Faults
                     Windows.DamagedImagesNeverHurt Windows.Conformance
                     PROPERTIES
  FIXTURES_REQUIRED WineSuite
  ENVIRONMENT "ORVANE_TEST_PROGRAM=$<TARGET_FILE:orvane_writing_boxes>;ORVANE_TEST_EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR};WINEPREFIX=${ORVANE_SUITE_PREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
