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

function(gtest_discover_tests target)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES TIMEOUT 300)
endfunction()
