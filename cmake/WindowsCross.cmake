# The Windows build, cross-compiled here and tested under Wine.
#
# The window is built with its Win32 peers. What needs Qt or POSIX processes stays out: the
# window's Qt tests, the stand-in server (a Linux program the Windows tests reach over TCP),
# benchmarks and fuzz targets.
set(BUNKMERE_SKIP_DIRS standin standin/engine tests/ui tests/app tests/standin
                       tests/standin_engine)

# Debug information in the program's own code (not in the test suites or GoogleTest, which
# would only cost build time); it changes no generated code. The release strips it from the
# program it ships and keeps the unstripped one beside it, so that the address in an
# "Application Error" box can be turned into function, file and line (scripts/where-windows).
set(_bunkmere_target_dir "$<TARGET_PROPERTY:SOURCE_DIR>")
add_compile_options(
  "$<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<PATH:IS_PREFIX,${PROJECT_SOURCE_DIR},${_bunkmere_target_dir}>,$<NOT:$<PATH:IS_PREFIX,${PROJECT_SOURCE_DIR}/tests,${_bunkmere_target_dir}>>>:-g>")

# GCC 12 at -O3 reports impossible overlaps inside std::string's own copies (GCC bug 105329).
add_compile_options(-Wno-restrict)

# Debian packages GoogleTest as sources only for other targets; build them with the program.
set(BUNKMERE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${BUNKMERE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(lib IN ITEMS gtest gtest_main gmock gmock_main)
  if(TARGET ${lib} AND NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
    # GoogleTest's own code is not ours to hold to -Werror.
    target_compile_options(${lib} PRIVATE -w)
  endif()
endforeach()

# Every test program runs under Wine, one process per program: starting Wine for each test
# case would cost far more than the tests. A prefix under the build folder is created on
# first use and reused.
set(BUNKMERE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run
                                  --prefix ${BUNKMERE_WINE_PREFIX})
# A case skipped inside a program leaves the program's test passed: each program writes its
# cases' results where scripts/test-windows reads them for skips (scripts/check-skips). The
# program takes a path without a drive letter as relative: Z: is Wine's drive for "/".
set(BUNKMERE_GTEST_RESULTS ${CMAKE_BINARY_DIR}/gtest-results)
function(gtest_discover_tests target)
  add_test(NAME ${target} COMMAND ${target} --gtest_color=no
                                  --gtest_output=xml:Z:${BUNKMERE_GTEST_RESULTS}/${target}.xml)
  set_tests_properties(${target} PROPERTIES TIMEOUT 600)
endfunction()
# The program's resources are compiled with windres.
enable_language(RC)
include(${CMAKE_CURRENT_LIST_DIR}/WindowsResources.cmake)
