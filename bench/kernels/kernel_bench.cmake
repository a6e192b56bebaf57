# d2udir_kernel_bench: Google Benchmark micro-benchmarks of the kernels at every instruction-set
# level. Built with the rest whenever the library is found, so that it keeps compiling; never
# run by ctest. Cross builds (i686, mingw) have no matching library and skip it.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  find_package(benchmark QUIET)
endif()
if(benchmark_FOUND)
  file(GLOB D2U_KERNEL_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
  add_executable(d2udir_kernel_bench ${D2U_KERNEL_BENCH_SOURCES})
  target_compile_options(d2udir_kernel_bench PRIVATE ${D2U_WARNINGS})
  target_link_libraries(d2udir_kernel_bench PRIVATE d2udir_objects benchmark::benchmark_main)
else()
  message(STATUS "Google Benchmark not found: d2udir_kernel_bench is not built")
endif()
