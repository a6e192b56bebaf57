# The soak program (which also writes and checks damaged inputs) and the thread tests
# (tests/soak). The soak drives the library through the fuzz targets (fuzz.cmake), linked
# together.
set(D2U_SOAK_DIR ${CMAKE_CURRENT_SOURCE_DIR}/soak)
add_executable(d2udir_soak ${D2U_SOAK_DIR}/soak_main.cpp ${D2U_SOAK_DIR}/soak_inputs.cpp
  ${D2U_FUZZ_TARGETS})
target_compile_definitions(d2udir_soak PRIVATE D2U_FUZZ_TARGETS_TOGETHER)
target_include_directories(d2udir_soak PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)
target_link_libraries(d2udir_soak PRIVATE d2udir_objects d2u_test_support)
target_compile_options(d2udir_soak PRIVATE ${D2U_WARNINGS})
if(D2U_STUB_TARGETS)
  add_dependencies(d2udir_soak ${D2U_STUB_TARGETS})
endif()

# A short soak in every configuration: a few hundred sequences.
add_test(NAME soak_short COMMAND d2udir_soak --sequences 200 --seed 11
  WORKING_DIRECTORY ${D2U_TEST_WORK_DIR})
# A small damaged corpus, written and checked.
add_test(NAME damage_check COMMAND d2udir_soak --check
  --write-damaged ${CMAKE_CURRENT_BINARY_DIR}/soak-damaged --per-kind 1 --seed 5
  WORKING_DIRECTORY ${D2U_TEST_WORK_DIR})
# The fuzz targets' committed corpus and crash regressions, as they are and damaged.
file(GLOB D2U_FUZZ_INPUT_DIRS LIST_DIRECTORIES true
  ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/* ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions/*)
add_test(NAME fuzz_corpus COMMAND d2udir_soak --check ${D2U_FUZZ_INPUT_DIRS})
set_tests_properties(soak_short damage_check fuzz_corpus PROPERTIES TIMEOUT 600 ENVIRONMENT
  "LD_LIBRARY_PATH=${D2U_STUB_DIR};ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")

# Handles on several threads against one at a time.
d2u_add_test_program(soak_threads ${D2U_SOAK_DIR}/two_thread_test.cpp ${D2U_SOAK_DIR}/soak_inputs.cpp)
