# Test support for the Windows cross build, included from tests/CMakeLists.txt.
# There is no GoogleTest package for the target, so Debian's sources (libgtest-dev)
# are built along; the test programs then run under Wine (CMAKE_CROSSCOMPILING_EMULATOR).
set(QUENTA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${QUENTA_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QUENTA_GOOGLETEST_SOURCE} (libgtest-dev)")
endif()

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${QUENTA_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

foreach(lib gtest gtest_main gmock gmock_main)
  # Not our code: our warning flags (and -Werror) stay off it.
  set_target_properties(${lib} PROPERTIES COMPILE_OPTIONS "")
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

# Tests are listed when CTest runs, under Wine, not while building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Create the Wine prefix while building: listing the tests of the first program must
# not pay for it (discovery has a time limit of a few seconds).
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/wine-prefix/.initialised
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --init-prefix ${CMAKE_BINARY_DIR}
  COMMENT "Creating the Wine prefix"
  VERBATIM)
add_custom_target(wine_prefix ALL DEPENDS ${CMAKE_BINARY_DIR}/wine-prefix/.initialised)
