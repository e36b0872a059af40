# Our own code builds with warnings as errors; third-party headers come in as SYSTEM.
function(tc_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wno-missing-field-initializers -Werror)
  # The fuzzing build uses another compiler, whose extra warnings must not stop a fuzzing session.
  if(TC_FUZZ)
    target_compile_options(${target} PRIVATE -Wno-error)
  endif()
endfunction()
