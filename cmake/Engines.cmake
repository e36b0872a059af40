# Finds whisper.cpp and llama.cpp as installed by scripts/build-engines and
# defines the imported targets TC::whisper and TC::llama.
#
# Each engine is one shared library of ours (libtc_whisper.so, libtc_llama.so)
# carrying its own private ggml, so both can be linked into one program. Their
# headers ship their own, different ggml.h: a translation unit includes either
# whisper.h or llama.h, never both.
#
# Sets TC_ENGINES_ID, TC_ENGINES_ROOT and TC_ENGINES_CHECK (a program that loads
# both engines, and models when given). Leaves the targets undefined when the
# engines are missing; the caller decides whether that is fatal.

set(_tc_lock "${CMAKE_CURRENT_LIST_DIR}/../scripts/engines.lock")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_tc_lock}")
file(STRINGS "${_tc_lock}" _tc_id_line REGEX "^ENGINES_ID=")
string(REGEX REPLACE "^ENGINES_ID=" "" TC_ENGINES_ID "${_tc_id_line}")
if(TC_ENGINES_ID STREQUAL "")
  message(FATAL_ERROR "scripts/engines.lock has no ENGINES_ID")
endif()

set(TC_ENGINES_DIR "" CACHE PATH
    "Installed engines; empty means the pinned build in the user cache")

# The cache rule of scripts/common.sh, which exports TC_CACHE_DIR: relative values count as unset.
if(NOT TC_ENGINES_DIR STREQUAL "")
  set(TC_ENGINES_ROOT "${TC_ENGINES_DIR}")
else()
  if(IS_ABSOLUTE "$ENV{TC_CACHE_DIR}")
    set(_tc_cache "$ENV{TC_CACHE_DIR}")
  elseif(IS_ABSOLUTE "$ENV{XDG_CACHE_HOME}")
    set(_tc_cache "$ENV{XDG_CACHE_HOME}/transcription-corvane")
  else()
    set(_tc_cache "$ENV{HOME}/.cache/transcription-corvane")
  endif()
  set(TC_ENGINES_ROOT "${_tc_cache}/engines/${TC_ENGINES_ID}")
endif()

set(_tc_missing "")
foreach(_tc_file .built lib/libtc_whisper.so lib/libtc_llama.so include/whisper/whisper.h
                 include/llama/llama.h include/llama/tc_llama_grammar.h)
  if(NOT EXISTS "${TC_ENGINES_ROOT}/${_tc_file}")
    list(APPEND _tc_missing "${_tc_file}")
  endif()
endforeach()

if(_tc_missing)
  message(WARNING
    "音声・言語エンジンがありません。scripts/build-engines (または scripts/setup) を実行してください。\n"
    "Speech and language engines not found in ${TC_ENGINES_ROOT} "
    "(missing: ${_tc_missing}). Run scripts/build-engines, or set TC_ENGINES_DIR.")
else()
  # A rebuilt engine (same id, new stamp) reconfigures dependents.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${TC_ENGINES_ROOT}/.built")

  foreach(_tc_engine whisper llama)
    if(NOT TARGET TC::${_tc_engine})
      add_library(TC::${_tc_engine} SHARED IMPORTED GLOBAL)
      set_target_properties(TC::${_tc_engine} PROPERTIES
        IMPORTED_LOCATION "${TC_ENGINES_ROOT}/lib/libtc_${_tc_engine}.so"
        IMPORTED_SONAME "libtc_${_tc_engine}.so"
        INTERFACE_INCLUDE_DIRECTORIES "${TC_ENGINES_ROOT}/include/${_tc_engine}")
    endif()
  endforeach()
  set(TC_ENGINES_CHECK "${TC_ENGINES_ROOT}/bin/tc-engines-check")
  message(STATUS "Engines ${TC_ENGINES_ID}: ${TC_ENGINES_ROOT}")
endif()

unset(_tc_lock)
unset(_tc_id_line)
unset(_tc_cache)
unset(_tc_missing)
