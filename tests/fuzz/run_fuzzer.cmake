# Runs one fuzz target for SECONDS over a fresh copy of its seeds and of the
# reproducers of reported findings (never the source tree's copies: libFuzzer
# adds what it finds to the corpus it is given). Crashes and broken
# properties are written to FINDINGS and fail the test.
#   cmake -DFUZZER=... -DSEEDS=... [-DREPRODUCERS=...] -DWORK=... -DFINDINGS=...
#         -DSECONDS=... -P run_fuzzer.cmake
foreach(var FUZZER SEEDS WORK FINDINGS SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK} ${FINDINGS})
file(GLOB seeds LIST_DIRECTORIES false ${SEEDS}/*)
if(NOT seeds)
  message(FATAL_ERROR "no seeds in ${SEEDS}")
endif()
file(COPY ${seeds} DESTINATION ${WORK})
if(DEFINED REPRODUCERS AND IS_DIRECTORY ${REPRODUCERS})
  file(GLOB reproducers LIST_DIRECTORIES false ${REPRODUCERS}/*)
  foreach(input ${reproducers})
    get_filename_component(input_name ${input} NAME)
    file(COPY_FILE ${input} ${WORK}/finding-${input_name})
  endforeach()
endif()

# -timeout: no single input may take this long (a hang is a finding too).
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=30 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix=${FINDINGS}/ ${WORK}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${FINDINGS}")
endif()
