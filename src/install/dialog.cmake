# The resource install dialog: a widgets target of its own, so the extraction stays display-free.
add_library(yfzs_installdlg STATIC onlinedlg.h onlinedlg.cpp)
target_include_directories(yfzs_installdlg PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(yfzs_installdlg
  PUBLIC Qt6::Widgets
  PRIVATE yfzs_flags yfzs_install yfzs_download yfzs_config yfzs_widgets)
