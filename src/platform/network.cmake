# Machine identity for the service protocol: hardware address and local IPv4 address.
target_sources(yfzs_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/networkidentity.h)
if(UNIX)
  target_sources(yfzs_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/networkidentity_unix.cpp)
endif()
