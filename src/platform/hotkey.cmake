# Platform services that need QtGui: the global hot key (an X11 key grab on the root window).
add_library(yfzs_platform_gui STATIC hotkey.h)
target_include_directories(yfzs_platform_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(yfzs_platform_gui PUBLIC Qt6::Gui PRIVATE yfzs_flags)
if(UNIX)
  find_package(X11 REQUIRED)
  target_sources(yfzs_platform_gui PRIVATE hotkey_x11.cpp)
  target_link_libraries(yfzs_platform_gui PRIVATE X11::X11 X11::xcb)
endif()
