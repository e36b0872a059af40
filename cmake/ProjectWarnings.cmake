# Our own code builds with warnings as errors; third-party headers come in as SYSTEM.
function(tc_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wno-missing-field-initializers -Werror)
endfunction()
