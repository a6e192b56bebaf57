# The syntax-coverage stream generator (a library) and a test that decodes its streams for a
# range of seeds with the library and with ffmpeg and compares them; a failing seed's stream
# stays in the test work folder.
set(D2U_STREAMGEN_DIR ${CMAKE_CURRENT_SOURCE_DIR}/streamgen)
file(GLOB D2U_STREAMGEN_SOURCES CONFIGURE_DEPENDS ${D2U_STREAMGEN_DIR}/*.cpp)
add_library(d2u_streamgen STATIC ${D2U_STREAMGEN_SOURCES})
target_include_directories(d2u_streamgen PUBLIC ${D2U_STREAMGEN_DIR})
target_compile_options(d2u_streamgen PRIVATE ${D2U_WARNINGS})

# Emulated and sanitizer builds run fewer seeds; D2U_STREAMGEN_SEEDS overrides at run time.
if(CMAKE_CROSSCOMPILING OR D2U_SANITIZE)
  set(D2U_STREAMGEN_DEFAULT_SEEDS 20)
else()
  set(D2U_STREAMGEN_DEFAULT_SEEDS 200)
endif()
file(GLOB D2U_STREAMGEN_TESTS CONFIGURE_DEPENDS ${D2U_STREAMGEN_DIR}/test/*.cpp)
d2u_add_test_program(streamgen_decode ${D2U_STREAMGEN_TESTS})
target_link_libraries(streamgen_decode PRIVATE d2u_streamgen)
target_compile_definitions(streamgen_decode PRIVATE
  D2U_STREAMGEN_DEFAULT_SEEDS=${D2U_STREAMGEN_DEFAULT_SEEDS})
# The decoder's unit tests take their stream from the generator.
if(TARGET unit_decoder)
  target_link_libraries(unit_decoder PRIVATE d2u_streamgen)
endif()
