# libFuzzer targets (ORVANE_FUZZ=ON, clang only). Like every target, they are
# built with the sanitizers (see ORVANE_SANITIZE), so that an over-read or
# undefined behaviour ends the run as a crash; the core also gets the
# coverage instrumentation that guides the fuzzers.
#
#   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF
#
# Each target's seeds are in fuzz/corpus/<target>/; scripts/fuzz.sh runs them.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "ORVANE_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()

foreach(library orvane_common orvane_cmdline orvane_install orvane_census orvane_check orvane_driver)
  target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
endforeach()

set(ORVANE_FUZZ_TARGETS "")

# orvane_fuzz_target(NAME SOURCE ENTRY): SOURCE holds the function ENTRY that
# the entry of fuzz/FuzzMain.cpp calls in the target NAME (one source may
# serve several targets).
function(orvane_fuzz_target name source entry)
  add_executable(${name} ${source} fuzz/FuzzMain.cpp)
  target_compile_definitions(${name} PRIVATE ORVANE_FUZZ_ENTRY=${entry})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE orvane_core)
  set(ORVANE_FUZZ_TARGETS ${ORVANE_FUZZ_TARGETS} ${name} PARENT_SCOPE)
endfunction()

orvane_fuzz_target(fuzz_command_line cmdline/CommandLineParser_fuzz.cpp FuzzCommandLine)
orvane_fuzz_target(fuzz_leading_integer cmdline/CommandLineParser_fuzz.cpp FuzzLeadingInteger)
orvane_fuzz_target(fuzz_run_program driver/nagios_orvane_check_fuzz.cpp FuzzRunProgram)
orvane_fuzz_target(fuzz_config_file install/Orvane_fuzz.cpp FuzzConfigFile)
orvane_fuzz_target(fuzz_registry_file install/RegistryFile_fuzz.cpp FuzzRegistryFile)
orvane_fuzz_target(fuzz_connection_tables census/GetConnections_fuzz.cpp FuzzConnectionTables)
if(ORVANE_PLATFORM STREQUAL "linux")
  orvane_fuzz_target(fuzz_proc_net_text census/KernelReaders_linux_fuzz.cpp FuzzProcNetText)
  orvane_fuzz_target(fuzz_diag_messages census/KernelReaders_linux_fuzz.cpp FuzzDiagMessages)
endif()

# The list scripts/fuzz.sh runs, one name a line.
string(REPLACE ";" "\n" orvane_fuzz_list "${ORVANE_FUZZ_TARGETS}")
file(WRITE ${CMAKE_BINARY_DIR}/fuzz_targets.txt "${orvane_fuzz_list}\n")
