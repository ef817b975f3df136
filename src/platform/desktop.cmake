# The desktop's services: the Wine prefix's registry, opening files and programs, autostart.
target_sources(yfzs_platform PRIVATE registry.h launcher.h autostart.h)
if(UNIX)
  target_sources(yfzs_platform PRIVATE registry_wine.cpp launcher_unix.cpp autostart_unix.cpp)
endif()
