# The HTTP download engine on libcurl, the page's download-job table and the blocking download
# of the install dialog: QtCore only, runs without a display.
find_package(CURL REQUIRED)

add_library(yfzs_download STATIC
  httpdownload.h httpdownload.cpp
  downloadjobs.h downloadjobs.cpp
  blockingdownload.h blockingdownload.cpp)
target_include_directories(yfzs_download PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(yfzs_download
  PUBLIC Qt6::Core
  PRIVATE yfzs_config yfzs_platform yfzs_install CURL::libcurl yfzs_flags)
