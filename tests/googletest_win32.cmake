# GoogleTest for the Windows build, compiled from Debian's sources
# (package googletest) with the Windows compiler: the packaged libraries are
# built for Linux.
set(ZELVORANT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${ZELVORANT_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${ZELVORANT_GOOGLETEST_SOURCE}: install googletest")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZELVORANT_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Our warning flags are not GoogleTest's: build it with its own, and let its
# headers count as system headers in our tests.
foreach(target gtest gtest_main)
  set_target_properties(${target} PROPERTIES COMPILE_OPTIONS "")
  get_target_property(include_dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(${target} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${include_dirs}")
endforeach()
