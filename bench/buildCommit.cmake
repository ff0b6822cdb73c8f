# Writes the commit the benchmarks are built from into OUT, touching it only when it changed.
execute_process(COMMAND git describe --always --dirty WORKING_DIRECTORY ${SRC}
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT commit)
  set(commit "unknown")
endif()
set(text "#define TESSEL_BUILD_COMMIT \"${commit}\"\n")
set(old "")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
