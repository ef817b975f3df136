# The browser view, its host policy and the page API offered to the tool page.
if(NOT TARGET Qt6::WebEngineWidgets)
  message(WARNING "Qt WebEngine Widgets not found: the browser view is not built")
  return()
endif()

add_library(yfzs_pagehost STATIC
  htmlctrl.h htmlctrl.cpp
  dochostsite.h dochostsite.cpp
  pagevalue.h pagevalue.cpp
  pageapitable.h pageapitable.cpp
  pagebridge.h pagebridge.cpp
  pageprogress.h pageprogress.cpp
  pageapi_window.cpp pageapi_files.cpp pageapi_system.cpp pageapi_download.cpp)
qt_add_resources(yfzs_pagehost "pagehost_scripts" PREFIX /pagehost FILES pagebridge.js)
target_include_directories(yfzs_pagehost PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(yfzs_pagehost
  PUBLIC Qt6::WebEngineWidgets
  PRIVATE yfzs_flags yfzs_widgets yfzs_config yfzs_platform yfzs_install yfzs_download)
