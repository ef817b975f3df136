# Handing unused heap back to the system (the browser view trims after page loads).
target_sources(yfzs_platform PRIVATE memory.h)
if(UNIX)
  target_sources(yfzs_platform PRIVATE memory_unix.cpp)
endif()
