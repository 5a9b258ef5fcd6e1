# One place for the warning set, applied per target so third-party code is not affected.
function(quill_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
                                           -Wcast-align -Wunused -Woverloaded-virtual -Wimplicit-fallthrough)
  # GCC's local-only shadow warning; clang (used for the fuzzers) spells it differently.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wshadow=local)
  endif()
  if(QUILL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
