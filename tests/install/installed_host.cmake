# Installs a build into a scratch prefix and builds the example host against the installed
# library twice, with pkg-config and with find_package(d2udir), then runs both on the sample
# stream; the installed command, where the build has one, must find the installed library by
# itself. Run with cmake -P and BUILD_DIR, SOURCE_DIR, SCRATCH_DIR, C_COMPILER, C_FLAGS,
# TOOLCHAIN_FILE (may be empty) and EMULATOR (may be empty).
cmake_minimum_required(VERSION 3.16)

function(run_checked)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}: ${result}\n${out}${err}")
  endif()
  string(STRIP "${out}" out)
  set(output "${out}" PARENT_SCOPE)
endfunction()

# The host prints the stream's size and a line per picture.
function(expect_host_decodes host)
  run_checked(${EMULATOR} ${host} ${SOURCE_DIR}/samples/sample.m2v)
  if(NOT output MATCHES "^[0-9]+ x [0-9]+\npicture 0: ")
    message(FATAL_ERROR "${host} printed:\n${output}")
  endif()
endfunction()

set(prefix ${SCRATCH_DIR}/prefix)
file(REMOVE_RECURSE ${SCRATCH_DIR})
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

file(GLOB installed_command ${prefix}/bin/d2udir)
if(installed_command)
  run_checked(${EMULATOR} ${installed_command} info ${SOURCE_DIR}/samples/sample.m2v)
  if(NOT output MATCHES "container: +MPEG video elementary stream")
    message(FATAL_ERROR "the installed command printed:\n${output}")
  endif()
endif()

file(GLOB_RECURSE pc_files ${prefix}/*/d2udir.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "expected one installed d2udir.pc, found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_LIBDIR} ${pc_dir})
set(ENV{PKG_CONFIG_PATH} "")
run_checked(pkg-config --variable=prefix d2udir)
if(NOT output STREQUAL prefix)
  message(FATAL_ERROR "d2udir.pc names prefix '${output}', installed in '${prefix}'")
endif()
run_checked(pkg-config --variable=libdir d2udir)
set(libdir ${output})
run_checked(pkg-config --cflags --libs d2udir)
separate_arguments(pc_flags UNIX_COMMAND "${output}")
separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
run_checked(${C_COMPILER} ${c_flags} -std=c99 -Wall -Werror ${SOURCE_DIR}/examples/minimal_host.c
  ${pc_flags} -Wl,-rpath,${libdir} -o ${SCRATCH_DIR}/pkg_config_host)
expect_host_decodes(${SCRATCH_DIR}/pkg_config_host)

set(project_dir ${SCRATCH_DIR}/find_package)
file(WRITE ${project_dir}/CMakeLists.txt "cmake_minimum_required(VERSION 3.16)
project(installed_host C)
find_package(d2udir REQUIRED)
add_executable(minimal_host ${SOURCE_DIR}/examples/minimal_host.c)
target_link_libraries(minimal_host PRIVATE d2udir::d2udir)
")
set(toolchain "")
if(TOOLCHAIN_FILE)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE})
endif()
run_checked(${CMAKE_COMMAND} -S ${project_dir} -B ${project_dir}/build ${toolchain}
  -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix})
run_checked(${CMAKE_COMMAND} --build ${project_dir}/build)
expect_host_decodes(${project_dir}/build/minimal_host)
