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
