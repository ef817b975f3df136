# PNG images by id, image buttons and skinned backgrounds; the images themselves are compiled in.
target_sources(yfzs_widgets PRIVATE
  pngresource.h pngresource.cpp
  pngbutton.h pngbutton.cpp
  skinnedbackground.h skinnedbackground.cpp
  ${PROJECT_SOURCE_DIR}/res/yfzs.qrc)

# The program that draws res/ (run tools/drawart.sh); not part of the normal build.
add_executable(yfzs_drawart EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tools/drawart.cpp)
target_link_libraries(yfzs_drawart PRIVATE yfzs_flags Qt6::Gui)
set_target_properties(yfzs_drawart PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
