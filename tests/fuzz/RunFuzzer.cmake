# Runs one fuzz target: cmake -DFUZZER=<program> -DSEEDS=<seed dir>
#   -DWORK=<scratch dir in the build tree> [-DOPTIONS=<more flags>] -P RunFuzzer.cmake
# The seeds are copied into WORK/corpus, which the fuzzer grows; crashes,
# leaks and time-outs land in WORK/artifacts. Fails when the fuzzer found one.
set(seconds 60)
if(DEFINED ENV{CHIMELET_FUZZ_SECONDS})
  set(seconds $ENV{CHIMELET_FUZZ_SECONDS})
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
file(GLOB seeds ${SEEDS}/*)
if(seeds)
  file(COPY ${seeds} DESTINATION ${WORK}/corpus)
endif()

# -close_fd_mask=2: the stand-in runtime describes every Java exception on
# stderr; libFuzzer and the targets keep their own copy for reports.
# -timeout: one input that takes this long is a hang, and is kept as such.
execute_process(
  COMMAND ${FUZZER} ${WORK}/corpus
    -max_total_time=${seconds} -timeout=30 -rss_limit_mb=4096
    -close_fd_mask=2 -print_final_stats=1
    -artifact_prefix=${WORK}/artifacts/ ${OPTIONS}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(GLOB found ${WORK}/artifacts/*)
  message(FATAL_ERROR "the fuzzer stopped with ${result}; inputs kept: ${found}")
endif()
