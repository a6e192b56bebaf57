# The C host example quoted in README.md, built with the C compiler against the public header
# and the shared library; the command's tests run it on a generated stream.
add_executable(minimal_host ${PROJECT_SOURCE_DIR}/examples/minimal_host.c)
set_target_properties(minimal_host PROPERTIES C_STANDARD 99 C_EXTENSIONS OFF)
target_compile_options(minimal_host PRIVATE ${D2U_WARNINGS} -pedantic)
target_link_libraries(minimal_host PRIVATE d2udir)
if(TARGET unit_cli)
  target_compile_definitions(unit_cli PRIVATE D2U_MINIMAL_HOST_FILE="$<TARGET_FILE:minimal_host>")
  add_dependencies(unit_cli minimal_host)
endif()

# The same host built against an installed copy of the library, with pkg-config and with
# find_package. Sanitizer builds are left out: a plain host cannot load their library.
if(NOT D2U_SANITIZE)
  add_test(NAME installed_host COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DSCRATCH_DIR=${CMAKE_BINARY_DIR}/installed-host -DC_COMPILER=${CMAKE_C_COMPILER}
    "-DC_FLAGS=${CMAKE_C_FLAGS}" -DTOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
    -P ${PROJECT_SOURCE_DIR}/tests/install/installed_host.cmake)
  set_tests_properties(installed_host PROPERTIES TIMEOUT 300)
endif()
