# The Windows console program (cross-compiled with cmake/mingw-w64.cmake): zlib from the MinGW
# tree (Debian: libz-mingw-w64-dev), expat built here from its source, since no MinGW build of it
# is packaged. DORVEX_EXPAT_SOURCE names the unpacked source (the directory that holds expat's
# CMakeLists.txt); tools/fetch-expat-source.sh unpacks Debian's source package into the build.
set(DORVEX_EXPAT_SOURCE "" CACHE PATH "expat source tree (holding its CMakeLists.txt) to build for Windows")
if(NOT DORVEX_EXPAT_SOURCE)
  set(_expat_unpacked "${CMAKE_BINARY_DIR}/expat-source")
  if(NOT EXISTS "${_expat_unpacked}/CMakeLists.txt")
    execute_process(COMMAND bash "${CMAKE_SOURCE_DIR}/tools/fetch-expat-source.sh" "${_expat_unpacked}"
                    RESULT_VARIABLE _expat_fetched)
    if(NOT _expat_fetched EQUAL 0)
      message(FATAL_ERROR "No expat source for the Windows build: set DORVEX_EXPAT_SOURCE, or let "
                          "tools/fetch-expat-source.sh fetch Debian's (needs deb-src and dpkg-dev)")
    endif()
  endif()
  set(DORVEX_EXPAT_SOURCE "${_expat_unpacked}")
endif()

enable_language(C)
set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)
set(EXPAT_SHARED_LIBS OFF CACHE BOOL "" FORCE)
set(EXPAT_BUILD_TOOLS OFF CACHE BOOL "" FORCE)
set(EXPAT_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(EXPAT_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(EXPAT_BUILD_DOCS OFF CACHE BOOL "" FORCE)
set(EXPAT_BUILD_PKGCONFIG OFF CACHE BOOL "" FORCE)
set(EXPAT_ENABLE_INSTALL OFF CACHE BOOL "" FORCE)
set(EXPAT_MSVC_STATIC_CRT OFF CACHE BOOL "" FORCE)
add_subdirectory("${DORVEX_EXPAT_SOURCE}" "${CMAKE_BINARY_DIR}/expat" EXCLUDE_FROM_ALL SYSTEM)
# Debian's security patches test "#if XML_DTD == 1", as its own (autoconf) build defines it;
# expat's CMake build defines the name alone.
set(_expat_config "${CMAKE_BINARY_DIR}/expat/expat_config.h")
if(EXISTS "${_expat_config}")
  file(READ "${_expat_config}" _expat_config_text)
  string(REPLACE "#define XML_DTD\n" "#define XML_DTD 1\n" _expat_config_text "${_expat_config_text}")
  file(WRITE "${_expat_config}" "${_expat_config_text}")
endif()
if(NOT TARGET EXPAT::EXPAT)
  add_library(EXPAT::EXPAT ALIAS expat)
endif()
target_compile_definitions(expat INTERFACE XML_STATIC)

# Windows 7 and later: GetModuleFileNameW, the wide console calls.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                        __USE_MINGW_ANSI_STDIO=1)

# Everything the program needs beside it: charsets\ by the executable, as the program expects.
function(dorvex_windows_program target)
  target_link_options(${target} PRIVATE -static)
  set_target_properties(${target} PROPERTIES SUFFIX ".exe")
endfunction()

# The release ZIP: dorvex.exe, charsets\, the example configuration, README, LICENSE, the manual
# as text; everything in one folder, the layout the program looks for first.
function(dorvex_windows_package)
  install(TARGETS dorvex RUNTIME DESTINATION .)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/charsets/ DESTINATION charsets)
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/README.md
                ${CMAKE_SOURCE_DIR}/dorvex.rc.example DESTINATION .)
  find_program(DORVEX_GROFF groff)
  if(DORVEX_GROFF)
    set(manual_text ${CMAKE_BINARY_DIR}/dorvex.txt)
    add_custom_command(OUTPUT ${manual_text}
      COMMAND ${CMAKE_COMMAND} -E env GROFF_NO_SGR=1 ${DORVEX_GROFF} -man -Tascii -P-cbou
              ${CMAKE_SOURCE_DIR}/dorvex.1 > ${manual_text}
      DEPENDS ${CMAKE_SOURCE_DIR}/dorvex.1 VERBATIM)
    add_custom_target(dorvex_manual_text ALL DEPENDS ${manual_text})
    install(FILES ${manual_text} DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP PARENT_SCOPE)
  set(CPACK_PACKAGE_FILE_NAME "dorvex-${PROJECT_VERSION}-win64" PARENT_SCOPE)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON PARENT_SCOPE)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR} PARENT_SCOPE)
endfunction()
