# GoogleTest built from source with the project's compiler, for targets that
# have no packaged GoogleTest (the mingw-w64 cross build). Debian's googletest
# package installs the source in /usr/src/googletest.
set(BRIM_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree to build when cross-compiling")
if(NOT EXISTS ${BRIM_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest source in ${BRIM_GTEST_SOURCE_DIR} (install libgtest-dev or googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${BRIM_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Test discovery runs the test programs; under an emulator that is left to
# ctest time rather than every build.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
