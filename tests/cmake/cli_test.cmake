# The command's tests run the built d2udir command (through the emulator on emulated builds).
if(TARGET unit_cli AND TARGET d2udir_cli)
  target_compile_definitions(unit_cli PRIVATE
    D2U_CLI_FILE="$<TARGET_FILE:d2udir_cli>"
    D2U_CLI_EMULATOR="${CMAKE_CROSSCOMPILING_EMULATOR}"
    D2U_STREAMGEN_FILE="$<TARGET_FILE:streamgen>")
  # Field-picture streams come from the syntax-coverage generator.
  add_dependencies(unit_cli d2udir_cli streamgen)
endif()
