# Windows programs built here run under Wine: wrap the emulator so that every
# run (ctest, test discovery, custom commands) uses a prefix inside the build
# tree, made without a display or a prompt.
get_filename_component(_devicecode_emulator "${CMAKE_CROSSCOMPILING_EMULATOR}" NAME)
if(_devicecode_emulator MATCHES "^wine")
  set(DEVICECODE_WINE "${CMAKE_CROSSCOMPILING_EMULATOR}")
  set(DEVICECODE_WINEPREFIX "${PROJECT_BINARY_DIR}/wineprefix")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_run.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
endif()
