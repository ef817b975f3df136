# The settings and about dialogs and the game folder browser, over config and the platform layer.
target_sources(yfzs_widgets PRIVATE
  dialogunits.h dialogunits.cpp
  gamefolderbrowser.h gamefolderbrowser.cpp
  settingsdialog.h settingsdialog.cpp
  aboutdialog.h aboutdialog.cpp)
target_link_libraries(yfzs_widgets PUBLIC yfzs_config yfzs_platform)
set_source_files_properties(aboutdialog.cpp PROPERTIES
  COMPILE_DEFINITIONS "YFZS_VERSION_TEXT=\"${PROJECT_VERSION}\"")
