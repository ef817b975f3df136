# The browser view and the page API on real pages in the real engine, offscreen.
if(NOT TARGET yfzs_pagehost)
  return()
endif()
file(GLOB browser_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
list(FILTER browser_sources EXCLUDE REGEX "/download_[^/]*$")

# The engine refuses its sandbox as root, which is how CI runs.
set(browser_env)
execute_process(COMMAND id -u OUTPUT_VARIABLE browser_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(browser_uid STREQUAL "0")
  set(browser_env QTWEBENGINE_DISABLE_SANDBOX=1)
endif()

pkg_check_modules(BROWSER_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(Threads REQUIRED)

yfzs_add_test(pagehost_test SOURCES ${browser_sources}
  LIBS yfzs_pagehost yfzs_widgets yfzs_config yfzs_platform yfzs_download
       PkgConfig::BROWSER_HTTPLIB Threads::Threads
  ENV ${browser_env} TIMEOUT 180)
target_include_directories(pagehost_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
