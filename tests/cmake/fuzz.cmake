# Fuzz targets: each tests/fuzz/NAME_fuzzer.cpp defines LLVMFuzzerTestOneInput.
#  - Every build replays the committed corpus and the crash regressions of every target through
#    the soak program (tests/cmake/soak.cmake).
#  - With D2U_FUZZ=ON (clang only) the library is instrumented for libFuzzer with the address and
#    undefined-behaviour sanitizers, and each target becomes a libFuzzer program fuzz_NAME
#    (scripts/fuzz.sh builds and runs them).
option(D2U_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(D2U_FUZZ_MAX_PICTURE_AREA "" CACHE STRING
    "Largest picture area in luma samples the decoder sets up (empty: the library's own limit)")

file(GLOB D2U_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*_fuzzer.cpp)

if(D2U_FUZZ_MAX_PICTURE_AREA)
  target_compile_definitions(d2udir_objects PUBLIC D2U_MAX_PICTURE_AREA=${D2U_FUZZ_MAX_PICTURE_AREA})
endif()

if(D2U_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "D2U_FUZZ needs clang (configure with CMAKE_CXX_COMPILER=clang++)")
  endif()
  set(D2U_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  target_compile_options(d2udir_objects PRIVATE -fsanitize=fuzzer-no-link ${D2U_FUZZ_SANITIZERS})
  target_link_options(d2udir_objects INTERFACE -fsanitize=address,undefined)
  # The input buffer's fill loops run over megabytes per opened file; comparison tracing there
  # only slows the fuzzer down.
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/input/bitstream_data_source.cpp
    DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY COMPILE_OPTIONS -fno-sanitize-coverage=trace-cmp)
  add_custom_target(fuzz_targets)
  foreach(source IN LISTS D2U_FUZZ_TARGETS)
    string(REGEX REPLACE ".*/(.*)_fuzzer\\.cpp$" "\\1" name ${source})
    add_executable(fuzz_${name} ${source})
    target_compile_options(fuzz_${name} PRIVATE ${D2U_WARNINGS} -fsanitize=fuzzer
      ${D2U_FUZZ_SANITIZERS})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${name} PRIVATE d2udir_objects)
    set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    add_dependencies(fuzz_targets fuzz_${name})
  endforeach()
endif()

