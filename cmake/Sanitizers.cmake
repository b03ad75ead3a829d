# Sanitizers apply to everything the project builds, so that plug-ins loaded by the
# tests share the runtime of the test program. TRELVO_SANITIZE is a CMake list.
add_library(trelvo_sanitizers INTERFACE)
if(TRELVO_SANITIZE)
  list(JOIN TRELVO_SANITIZE "," _trelvo_san)
  target_compile_options(trelvo_sanitizers INTERFACE -fsanitize=${_trelvo_san} -fno-omit-frame-pointer
                                                     -fno-sanitize-recover=undefined)
  target_link_options(trelvo_sanitizers INTERFACE -fsanitize=${_trelvo_san})
endif()

# Plug-ins that misbehave on purpose are built without instrumentation: their faults are
# the point, and a sanitizer report would stop the test before the host's guard sees them.
add_library(trelvo_uninstrumented INTERFACE)
