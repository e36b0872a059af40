# Run by `cmake --install`: writes the launcher entry for this prefix and draws the PNG icons.

set(_program "${CMAKE_INSTALL_PREFIX}/${TC_BINDIR}/transcription-corvane")
# An Exec value quotes a path with reserved characters, escaping ", `, $ and \ inside the quotes; the value
# as a whole then escapes \ once more.
if(_program MATCHES "^[A-Za-z0-9/._+,=@%:-]+$")
  set(TC_DESKTOP_EXEC "${_program}")
else()
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" _quoted "${_program}")
  set(TC_DESKTOP_EXEC "\"${_quoted}\"")
endif()
string(REPLACE "\\" "\\\\" TC_DESKTOP_EXEC "${TC_DESKTOP_EXEC}")
string(REPLACE "\\" "\\\\" TC_DESKTOP_TRY_EXEC "${_program}")

# One folder per prefix: installs into two prefixes at once (the tests do) must not swap their entries.
string(MD5 _prefix_key "${CMAKE_INSTALL_PREFIX}")
set(_entry "${TC_DESKTOP_WORK_DIR}/entry-${_prefix_key}/${TC_APP_ID}.desktop")
configure_file("${TC_DESKTOP_SOURCE_DIR}/${TC_APP_ID}.desktop.in" "${_entry}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${TC_DATADIR}/applications" TYPE FILE FILES "${_entry}")
file(REMOVE_RECURSE "${TC_DESKTOP_WORK_DIR}/entry-${_prefix_key}")

if(TC_RSVG_CONVERT)
  foreach(_size 48 128 256)
    set(_png "${TC_DESKTOP_WORK_DIR}/${_size}x${_size}/${TC_APP_ID}.png")
    if(NOT EXISTS "${_png}" OR "${TC_DESKTOP_SOURCE_DIR}/${TC_APP_ID}.svg" IS_NEWER_THAN "${_png}")
      file(MAKE_DIRECTORY "${TC_DESKTOP_WORK_DIR}/${_size}x${_size}")
      # Drawn aside and renamed into place, so a concurrent install never copies half a picture.
      string(RANDOM LENGTH 12 _nonce)
      execute_process(COMMAND "${TC_RSVG_CONVERT}" --width ${_size} --height ${_size} --format png
                              --output "${_png}.${_nonce}" "${TC_DESKTOP_SOURCE_DIR}/${TC_APP_ID}.svg"
                      RESULT_VARIABLE _status)
      if(NOT _status EQUAL 0)
        file(REMOVE "${_png}.${_nonce}")
        message(FATAL_ERROR "アイコン (${_size}x${_size}) を描けませんでした: ${TC_RSVG_CONVERT} の出力を確認してください。")
      endif()
      file(RENAME "${_png}.${_nonce}" "${_png}")
    endif()
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${TC_DATADIR}/icons/hicolor/${_size}x${_size}/apps" TYPE FILE
         FILES "${_png}")
  endforeach()
endif()
