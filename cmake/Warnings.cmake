# Warning flags live on one INTERFACE target that every project target links.
add_library(trelvo_warnings INTERFACE)
target_compile_options(trelvo_warnings INTERFACE -Wall -Wextra -Wshadow=local -Wno-unused-parameter)
if(TRELVO_WERROR)
  target_compile_options(trelvo_warnings INTERFACE -Werror)
endif()
# GCC 12 reports false "may be used uninitialized" warnings in instrumented builds
# (inside libstdc++'s std::function and std::regex); the plain build keeps the warning.
if(TRELVO_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(trelvo_warnings INTERFACE -Wno-maybe-uninitialized)
endif()
