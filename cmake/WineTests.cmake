# Tests of the Windows build run under Wine. GoogleTest comes from Debian's
# sources (/usr/src/googletest), built with the cross compiler; each test
# program is one ctest entry, since discovering the tests one by one would
# start Wine once per test.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock gmock_main)  # googletest names them GTest::<lib> too
  target_compile_options(${lib} PRIVATE -w)
endforeach()

# Every test program runs in a Wine prefix of the build's own (the fixture
# below makes it, boots it and registers the COM test host), its output
# passed through a file.
set(BREVAND_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(BREVAND_WINE_FIXTURE ${CMAKE_SOURCE_DIR}/cmake/wine-fixture.sh)
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${BREVAND_WINE_FIXTURE} run ${BREVAND_WINE_DIR})

add_test(NAME wine_setup
  COMMAND bash ${BREVAND_WINE_FIXTURE} setup ${BREVAND_WINE_DIR} $<TARGET_FILE:brevand_comhost>)
add_test(NAME wine_teardown COMMAND bash ${BREVAND_WINE_FIXTURE} teardown ${BREVAND_WINE_DIR})
set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
set_tests_properties(wine_teardown PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

function(gtest_discover_tests target)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED wine)
endfunction()
