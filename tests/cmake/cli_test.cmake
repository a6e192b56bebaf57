# The command's tests run the built d2udir command (through the emulator on emulated builds).
if(TARGET unit_cli AND TARGET d2udir_cli)
  target_compile_definitions(unit_cli PRIVATE
    D2U_CLI_FILE="$<TARGET_FILE:d2udir_cli>"
    D2U_CLI_EMULATOR="${CMAKE_CROSSCOMPILING_EMULATOR}")
  add_dependencies(unit_cli d2udir_cli)
  # Field-picture streams come from the syntax-coverage generator.
  target_link_libraries(unit_cli PRIVATE d2u_streamgen)
endif()
