# download_test: the HTTP engine, the page's job table and the blocking download, against
# HTTP and HTTPS servers on loopback that the tests start themselves.
file(GLOB download_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/download_*_test.cpp)
yfzs_add_test(download_test
  SOURCES ${download_test_sources}
    ${CMAKE_CURRENT_SOURCE_DIR}/download_testserver.h
    ${CMAKE_CURRENT_SOURCE_DIR}/download_testserver.cpp
  LIBS yfzs_download yfzs_config yfzs_install Qt6::Network
  TIMEOUT 120)
