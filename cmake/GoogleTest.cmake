# GoogleTest from Debian's source package, built with whatever compiler this
# build uses (the host's, or mingw-w64 for the Windows builds).
set(VARNOCK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VARNOCK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# varnock_add_gtest(<name> <sources>...): a test program whose cases ctest
# lists at test time (under Wine for the Windows build). A parameterised
# case is named by its generator's name alone, never by its printed value.
function(varnock_add_gtest name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE GTest::gtest_main varnock_warnings)
    gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endfunction()
