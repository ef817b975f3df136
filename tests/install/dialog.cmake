# The install dialog in-process: widgets offscreen, a loopback HTTP server and archives the test makes.
yfzs_add_test(installdlg_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dialog/onlinedlg_test.cpp zipbuilder.h zipbuilder.cpp
  LIBS yfzs_installdlg yfzs_config yfzs_widgets PkgConfig::MINIZIP ZLIB::ZLIB TIMEOUT 120)
target_include_directories(installdlg_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
