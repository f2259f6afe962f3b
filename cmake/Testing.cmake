# GoogleTest for every preset, and the Wine harness that runs Windows test programs.
#
# Native builds use Debian's GoogleTest. Windows builds compile GoogleTest from Debian's
# sources with the mingw toolchain and run every test program under Wine, in a prefix
# inside the build tree that a ctest fixture creates once per run and shuts down at the end.

if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

  set(WINE_PREFIX_DIR ${CMAKE_BINARY_DIR}/wineprefix)
  set(WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN} ${WINE_PREFIX_DIR} ${WINE_BITS})

  add_test(NAME wine_prefix_start
           COMMAND ${WINE_RUN} ${WINE_PREFIX_DIR} ${WINE_BITS} --start)
  add_test(NAME wine_prefix_stop
           COMMAND ${WINE_RUN} ${WINE_PREFIX_DIR} ${WINE_BITS} --stop)
  set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
  set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# add_unit_test(NAME SOURCES... [LIBS ...]): one GoogleTest program. Natively every case is
# its own ctest entry; under Wine the program runs once (a Wine start costs a second).
function(add_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    target_link_libraries(${name} PRIVATE gtest gtest_main ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
