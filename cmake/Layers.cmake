# The layers, lowest first; each may include its own headers and those of the layers before it, never after.
set(TC_LAYERS TranscriptionDomain TranscriptionApplication TranscriptionInfrastructure TranscriptionUI
              TranscriptionCorvane)

# Collects a layer's sources, sub-folders included; without engines, files that include their headers are left out.
function(tc_layer_sources out dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  if(NOT TC_HAVE_ENGINES)
    set(kept)
    foreach(f IN LISTS sources)
      file(STRINGS ${f} hits REGEX "#include [<\"](whisper|llama|ggml)\\.h[>\"]")
      if(NOT hits)
        list(APPEND kept ${f})
      endif()
    endforeach()
    set(sources ${kept})
  endif()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# A folder in the build tree that holds only a link to the layer's own source folder, so that
# "<Layer>/File.h" resolves for the layer and, through the link line, for the layers above it, and a
# header of a higher layer is simply not there.
function(tc_layer_include_root name out)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${name})
  file(MAKE_DIRECTORY ${root})
  if(NOT IS_SYMLINK ${root}/${name})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${name} ${root}/${name} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# A translation unit compiled into the layer with the layer's own flags: it stops the build when a header of
# a higher layer, or Qt in the layers that must not use it, becomes reachable from the layer.
function(tc_layer_fence name)
  list(FIND TC_LAYERS ${name} index)
  set(probe "// Generated: the layer's include fence.\n")
  set(position 0)
  foreach(layer IN LISTS TC_LAYERS)
    file(GLOB_RECURSE headers RELATIVE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/src/${layer}/*.h)
    list(SORT headers)
    if(headers)
      list(GET headers 0 header)
      if(position LESS_EQUAL index)
        string(APPEND probe "#if !__has_include(\"${header}\")\n#error \"${name} cannot see its own or a lower layer's header ${header}\"\n#endif\n")
      else()
        string(APPEND probe "#if __has_include(\"${header}\")\n#error \"${name} can see ${header} of the higher layer ${layer}\"\n#endif\n")
      endif()
    endif()
    math(EXPR position "${position} + 1")
  endforeach()
  if(name STREQUAL "TranscriptionDomain" OR name STREQUAL "TranscriptionApplication")
    string(APPEND probe "#if __has_include(<QObject>) || __has_include(<QtCore/QObject>)\n#error \"${name} can see Qt\"\n#endif\n")
  endif()
  set(file ${PROJECT_BINARY_DIR}/layer-fences/${name}Fence.cpp)
  file(CONFIGURE OUTPUT ${file} CONTENT "${probe}")
  target_sources(${name} PRIVATE ${file})
endfunction()

# A layer library with its own include root and its fence.
function(tc_add_layer name sources)
  add_library(${name} STATIC ${sources})
  tc_layer_include_root(${name} root)
  target_include_directories(${name} PUBLIC ${root})
  tc_layer_fence(${name})
  tc_set_warnings(${name})
endfunction()
