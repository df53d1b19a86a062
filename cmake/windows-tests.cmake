# Tests of the Windows program on Linux, under Wine (Debian: wine64): the command-line cases of
# tests/cli, which run the program through a Wine wrapper, less those tests/windows/skip.txt
# names with the reason; the Windows-only cases of tests/windows; and the unit tests (below),
# built for Windows and run under Wine as CTest's cross-compiling emulator. The cases make their
# fixtures with mkfixture built for this machine, so they are byte for byte those of the Linux
# build.
enable_testing()
if(NOT DORVEX_WINE)
  find_program(DORVEX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(NOT DORVEX_WINE)
  message(FATAL_ERROR "The Windows tests need Wine (Debian: apt-get install wine64), or "
                      "-DDORVEX_WINDOWS_TESTS=OFF")
endif()
find_program(DORVEX_HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH)
if(NOT DORVEX_HOST_CXX)
  message(FATAL_ERROR "The Windows tests build their fixture maker with this machine's C++ compiler: none found")
endif()

set(host_mkfixture ${CMAKE_BINARY_DIR}/host/mkfixture)
add_custom_command(OUTPUT ${host_mkfixture}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
  COMMAND ${DORVEX_HOST_CXX} -std=c++20 -O1 -I${CMAKE_SOURCE_DIR}/tests/support
          ${CMAKE_SOURCE_DIR}/tools/mkfixture.cpp -o ${host_mkfixture}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/mkfixture.cpp
  COMMENT "Building mkfixture for this machine" VERBATIM)
add_custom_target(host_mkfixture ALL DEPENDS ${host_mkfixture})

# One Wine prefix for the whole run, made once (its first start takes seconds).
set(wine_prefix ${CMAKE_BINARY_DIR}/wine)
set(wine_environment WINEPREFIX=${wine_prefix} WINEDEBUG=-all DORVEX_WINE=${DORVEX_WINE}
                     LOCPATH=${CMAKE_BINARY_DIR}/locales)
add_test(NAME windows.wine_prefix
         COMMAND ${CMAKE_COMMAND} -E env ${wine_environment}
                 ${CMAKE_SOURCE_DIR}/tools/wine-setup ${CMAKE_BINARY_DIR} $<TARGET_FILE:dorvex>)
set_tests_properties(windows.wine_prefix PROPERTIES FIXTURES_SETUP wine)

# tests/windows/skip.txt: "case  reason", one a line; the reason is printed when it is skipped.
file(STRINGS ${CMAKE_SOURCE_DIR}/tests/windows/skip.txt skip_lines REGEX "^[a-z0-9_]+ ")
set(skipped "")
foreach(line ${skip_lines})
  string(REGEX MATCH "^[a-z0-9_]+" name "${line}")
  string(REGEX REPLACE "^[a-z0-9_]+ +" "" reason "${line}")
  set(skip_reason_${name} "${reason}")
  list(APPEND skipped ${name})
endforeach()

file(GLOB cli_cases CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/cli/*.sh)
file(GLOB windows_cases CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*.sh)
foreach(case ${cli_cases} ${windows_cases})
  get_filename_component(case_name ${case} NAME_WE)
  get_filename_component(case_dir ${case} DIRECTORY)
  get_filename_component(group ${case_dir} NAME)
  set(test_name ${group}.${case_name})
  if(case_name IN_LIST skipped AND group STREQUAL "cli")
    add_test(NAME ${test_name}
             COMMAND ${CMAKE_COMMAND} -E echo "skipped on Windows: ${skip_reason_${case_name}}")
    set_tests_properties(${test_name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped on Windows")
    continue()
  endif()
  add_test(NAME ${test_name}
           COMMAND ${CMAKE_COMMAND} -E env ${wine_environment}
                   bash ${CMAKE_SOURCE_DIR}/tests/run_cli_case.sh $<TARGET_FILE:dorvex> ${case}
                   ${CMAKE_SOURCE_DIR} ${host_mkfixture} ${CMAKE_BINARY_DIR} ${CMAKE_COMMAND})
  set_tests_properties(${test_name} PROPERTIES FIXTURES_REQUIRED wine)
endforeach()
# It writes a dorvex.rc into the profile directory of the shared Wine prefix for a moment, where
# a case run beside it without HOME would find it.
set_tests_properties(windows.userprofile PROPERTIES RUN_SERIAL TRUE)

# The unit tests, built for Windows with GoogleTest built here from its source (Debian's
# libgtest-dev ships it in /usr/src/googletest), and run under Wine as CTest's cross-compiling
# emulator: every tests/unit/test_<area>.cpp, as on Linux, and tests/windows/unit, the Windows side
# of the system layer. One test entry per binary, whose output names each case: an entry per case
# (gtest_discover_tests) would list the cases by running every binary under Wine while building,
# before windows.wine_prefix has made the Wine prefix and started the server, and would start Wine
# some 200 times rather than 21 (0.1 s each once the server runs).
set(DORVEX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree, built for the Windows unit tests")
if(EXISTS ${DORVEX_GTEST_SOURCE}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${DORVEX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Run as the command-line cases run the program: tools/wine-run, a Russian Windows (ANSI code
  # page 1251, console 866), the program's default code pages.
  set(wine_emulator ${CMAKE_COMMAND} -E env ${wine_environment} sh ${CMAKE_SOURCE_DIR}/tools/wine-run)
  file(GLOB windows_unit_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/test_*.cpp)
  add_custom_target(windows_unit_tests)
  foreach(test_src ${windows_unit_tests} ${CMAKE_SOURCE_DIR}/tests/windows/unit/test_platform_windows.cpp)
    get_filename_component(test_name ${test_src} NAME_WE)
    add_executable(${test_name} ${test_src} ${CMAKE_SOURCE_DIR}/tests/support/test_context.cpp)
    target_include_directories(${test_name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    target_link_libraries(${test_name} PRIVATE dorvex_core gtest gtest_main)
    target_compile_definitions(${test_name} PRIVATE
      DORVEX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" DORVEX_CHARSETS_DIR="${CMAKE_SOURCE_DIR}/charsets")
    target_link_options(${test_name} PRIVATE -static)
    # GoogleTest marks symbols visible, which link-time optimization on Windows only warns about.
    set_target_properties(${test_name} PROPERTIES INTERPROCEDURAL_OPTIMIZATION OFF
                                                  CROSSCOMPILING_EMULATOR "${wine_emulator}")
    add_dependencies(windows_unit_tests ${test_name})
    string(REGEX REPLACE "^test_" "" area ${test_name})
    add_test(NAME windows.unit_${area} COMMAND ${test_name})
    set_tests_properties(windows.unit_${area} PROPERTIES FIXTURES_REQUIRED wine)
  endforeach()
  set_target_properties(gtest gtest_main PROPERTIES INTERPROCEDURAL_OPTIMIZATION OFF)
  # Compiled as on Linux, where the tests of tests/unit take the compiler's default warnings; the
  # Windows-only ones take the program's.
  target_compile_options(test_platform_windows PRIVATE ${DORVEX_WARNINGS})
  # The program's batch building blocks, tested apart from its main.
  target_sources(test_batch PRIVATE ${CMAKE_SOURCE_DIR}/programs/batch.cpp)
  target_include_directories(test_batch PRIVATE ${CMAKE_SOURCE_DIR}/programs)
  # The interface's test compares its texts with the program's.
  target_compile_definitions(test_api PRIVATE DORVEX_PROGRAM="$<TARGET_FILE:dorvex>")
  add_dependencies(test_api dorvex)
else()
  message(STATUS "No GoogleTest source in ${DORVEX_GTEST_SOURCE} (Debian: libgtest-dev): "
                 "the Windows unit tests are not built")
endif()
