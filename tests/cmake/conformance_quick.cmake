# Under an emulator (the i686 build runs its tests through qemu-i386) the conformance suite
# decodes only the streams marked quick; the native builds decode them all.
if(TARGET conformance AND CMAKE_CROSSCOMPILING_EMULATOR)
  set_property(TEST conformance APPEND PROPERTY ENVIRONMENT "D2U_CONFORMANCE_QUICK=1")
endif()
