# Warning flags live on one INTERFACE target that every project target links.
add_library(trelvo_warnings INTERFACE)
target_compile_options(trelvo_warnings INTERFACE -Wall -Wextra -Wshadow=local -Wno-unused-parameter)
if(TRELVO_WERROR)
  target_compile_options(trelvo_warnings INTERFACE -Werror)
endif()
