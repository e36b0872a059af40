# Installs what makes the program a desktop application: the engines beside it, the launcher entry, the icons
# and the software-centre description. Included after the program's target exists.

# The id names the launcher entry, the icon and the metainfo alike; the program announces it to the desktop.
set(TC_APP_ID io.github.corvane.TranscriptionCorvane)
# The engines are ours alone: a folder of their own keeps them out of the prefix's shared library path.
set(TC_ENGINES_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/transcription-corvane)
set(_tc_desktop_dir ${PROJECT_SOURCE_DIR}/data/desktop)

if(TARGET transcription-corvane)
  # Relative to the program, so a prefix works wherever it is put; the build-time link path (the user cache)
  # stays out of installed binaries.
  file(RELATIVE_PATH _tc_to_engines /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${TC_ENGINES_INSTALL_DIR})
  set_target_properties(transcription-corvane PROPERTIES
    INSTALL_RPATH "$ORIGIN/${_tc_to_engines}"
    INSTALL_RPATH_USE_LINK_PATH OFF)
endif()
if(TC_HAVE_ENGINES)
  install(IMPORTED_RUNTIME_ARTIFACTS TC::whisper TC::llama LIBRARY DESTINATION ${TC_ENGINES_INSTALL_DIR})
endif()

configure_file(${_tc_desktop_dir}/${TC_APP_ID}.metainfo.xml
               ${PROJECT_BINARY_DIR}/desktop/${TC_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/desktop/${TC_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_tc_desktop_dir}/${TC_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The entry names the program by its full installed path (~/.local/bin is not on every session's PATH), and
# the PNGs are drawn from the SVG: both are made at install time, when the prefix is known.
find_program(TC_RSVG_CONVERT rsvg-convert)
if(NOT TC_RSVG_CONVERT)
  message(WARNING "rsvg-convert (librsvg2-bin) がないため、PNG アイコンはインストールされません。scripts/setup を実行してください。")
endif()
install(CODE "
  set(TC_APP_ID \"${TC_APP_ID}\")
  set(TC_DESKTOP_SOURCE_DIR \"${_tc_desktop_dir}\")
  set(TC_DESKTOP_WORK_DIR \"${PROJECT_BINARY_DIR}/desktop/install\")
  set(TC_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(TC_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(TC_RSVG_CONVERT \"${TC_RSVG_CONVERT}\")
")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/InstallDesktopFiles.cmake)

unset(_tc_desktop_dir)
unset(_tc_to_engines)
