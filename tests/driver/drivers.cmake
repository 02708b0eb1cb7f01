# Runs the shipped MATLAB binaries: the stand-in host built a second time as MATLAB's libmx and
# libmex, and a driver that loads each MEX file with nothing of the host loaded beforehand and
# runs the gateway cases (gateway_cases.cpp, the one table for every platform) through it.
# Included by packaging/CMakeLists.txt once the .mexa64 and .mexw64 targets exist.

set(driver_source_dir ${PROJECT_SOURCE_DIR}/tests/driver)
set(standin_dir ${PROJECT_SOURCE_DIR}/standin)

# --- Linux: libmx.so and libmex.so exporting MATLAB's _730 names, found through
# LD_LIBRARY_PATH alone (no run path anywhere). libmx keeps the host's state and carries the test
# harness that works on it; libmex works on it through libmx.
set(linux_host_dir ${CMAKE_BINARY_DIR}/standin-host)
add_library(standin_libmx SHARED ${STANDIN_LIBMX_SOURCES})
add_library(standin_libmex SHARED ${STANDIN_LIBMEX_SOURCES})
target_link_libraries(standin_libmex PRIVATE standin_libmx)
set_target_properties(standin_libmx PROPERTIES OUTPUT_NAME mx)
set_target_properties(standin_libmex PROPERTIES OUTPUT_NAME mex)
add_library(gateway_cases SHARED ${driver_source_dir}/gateway_cases.cpp)
target_link_libraries(gateway_cases PRIVATE standin_libmx)
foreach(target standin_libmx standin_libmex gateway_cases)
  target_include_directories(${target} PRIVATE ${standin_dir})
  set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${linux_host_dir}
                        SKIP_BUILD_RPATH ON)
endforeach()
add_executable(mexa64_driver ${driver_source_dir}/driver_main.cpp)
target_include_directories(mexa64_driver PRIVATE ${standin_dir})
target_link_libraries(mexa64_driver PRIVATE ${CMAKE_DL_LIBS})
# The MEX file brings in libmex itself; nothing else asks for it.
add_dependencies(mexa64_driver standin_libmex)

foreach(name ${extensions})
  add_test(NAME driver.mexa64.${name}
           COMMAND mexa64_driver ${name} $<TARGET_FILE:${name}_mexa64> $<TARGET_FILE:gateway_cases>)
  set_tests_properties(driver.mexa64.${name} PROPERTIES ENVIRONMENT "LD_LIBRARY_PATH=${linux_host_dir}")
endforeach()

# --- Windows: the same sources cross-built as libmx.dll, libmex.dll, gateway_cases.dll and a
# driver program, all in one folder: the program's folder is where Windows looks first for the
# DLLs a loaded MEX file imports, as MATLAB keeps them beside MATLAB.exe.
if(NOT mexw64_dir)
  return()
endif()
find_program(WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(NOT WINE64)
  skip_without_tool(Wine "the run of the .mexw64 files is" "apt-get install wine64")
  return()
endif()

set(win_dir ${CMAKE_BINARY_DIR}/mexw64-driver)
set(win_flags ${mingw_cxx_flags} -static -I${standin_dir} -I${driver_source_dir})
set(standin_headers ${standin_dir}/mex.h ${standin_dir}/standin.h ${standin_dir}/standin_internal.h)
add_custom_command(
  OUTPUT ${win_dir}/libmx.dll ${win_dir}/libmx-standin.dll.a
  COMMAND ${CMAKE_COMMAND} -E make_directory ${win_dir}
  COMMAND ${MINGW_CXX} ${win_flags} -shared ${STANDIN_LIBMX_SOURCES} -o ${win_dir}/libmx.dll
          -Wl,--out-implib,${win_dir}/libmx-standin.dll.a -Wl,--exclude-libs,ALL
  DEPENDS ${STANDIN_LIBMX_SOURCES} ${standin_headers}
  COMMENT "Cross-compiling the stand-in libmx.dll"
  VERBATIM)
add_custom_command(
  OUTPUT ${win_dir}/libmex.dll
  COMMAND ${MINGW_CXX} ${win_flags} -shared ${STANDIN_LIBMEX_SOURCES} -o ${win_dir}/libmex.dll
          ${win_dir}/libmx-standin.dll.a -Wl,--exclude-libs,ALL
  DEPENDS ${STANDIN_LIBMEX_SOURCES} ${standin_headers} ${win_dir}/libmx-standin.dll.a
  COMMENT "Cross-compiling the stand-in libmex.dll"
  VERBATIM)
add_custom_command(
  OUTPUT ${win_dir}/gateway_cases.dll
  COMMAND ${MINGW_CXX} ${win_flags} -shared ${driver_source_dir}/gateway_cases.cpp
          -o ${win_dir}/gateway_cases.dll ${win_dir}/libmx-standin.dll.a -Wl,--exclude-libs,ALL
  DEPENDS ${driver_source_dir}/gateway_cases.cpp ${driver_source_dir}/gateway_cases.h
          ${standin_dir}/standin.h ${win_dir}/libmx-standin.dll.a
  COMMENT "Cross-compiling gateway_cases.dll"
  VERBATIM)
add_custom_command(
  OUTPUT ${win_dir}/mexw64_driver.exe
  COMMAND ${MINGW_CXX} ${win_flags} ${driver_source_dir}/driver_main.cpp -o ${win_dir}/mexw64_driver.exe
  DEPENDS ${driver_source_dir}/driver_main.cpp ${standin_dir}/mex.h
  COMMENT "Cross-compiling mexw64_driver.exe"
  VERBATIM)
add_custom_target(mexw64_driver ALL DEPENDS ${win_dir}/libmx.dll ${win_dir}/libmex.dll
                  ${win_dir}/gateway_cases.dll ${win_dir}/mexw64_driver.exe)

# The prefix lives in the build tree; its first start (about 10 s) is a test of its own, so the
# driver runs do not race to make it.
set(run_wine sh ${driver_source_dir}/run_wine.sh ${WINE64} ${CMAKE_BINARY_DIR}/wine-prefix)
add_test(NAME wine.prefix COMMAND ${run_wine} ${win_dir}/mexw64_driver.exe)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 RESOURCE_LOCK wine
                     PASS_REGULAR_EXPRESSION "usage: ")
foreach(name ${extensions})
  add_test(NAME driver.mexw64.${name}
           COMMAND ${run_wine} ${win_dir}/mexw64_driver.exe ${name} ${mexw64_dir}/${name}.mexw64
                   ${win_dir}/gateway_cases.dll)
  set_tests_properties(driver.mexw64.${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
                       RESOURCE_LOCK wine)
endforeach()
