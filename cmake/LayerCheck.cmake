# The layers look down only: platform, lib, log, image, app. For each layer a small
# program takes every object of that layer's library (a whole archive) and
# links only the layers below it, so a call that runs upward, even from code
# nothing uses yet, fails the build with an undefined reference.
foreach(layer IN ITEMS orvane_platform orvane_lib orvane_log orvane_image
                    orvane_app)
  add_executable(${layer}_looks_down cmake/layer_check.cpp)
  target_link_libraries(${layer}_looks_down PRIVATE
                        "$<LINK_LIBRARY:WHOLE_ARCHIVE,${layer}>")
endforeach()

# The includes look down too, and only image/ includes the image library's
# header: the header sits on the system's include path, where every layer
# could reach it.
add_custom_target(layers_include_down ALL
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/layers_test.sh
  COMMENT "Checking that every layer includes only from below")
