# Windows builds: the platform's file seam, a runtime linked in whole, no text mode, and (cross
# built) the tests run under wine with a prefix of their own in the build folder.
set_source_files_properties(${PROJECT_SOURCE_DIR}/recio/os_file_posix.cpp PROPERTIES
                            HEADER_FILE_ONLY ON)

# Standard streams and every file the C runtime opens are binary: no LF turned into CR LF and
# no 0x1A taken as the end (the programs' own files go through the seam anyway).
add_library(drav_binary_mode OBJECT ${PROJECT_SOURCE_DIR}/recio/win32/binary_mode.cpp)
link_libraries(drav_binary_mode)
if(MINGW)
  add_link_options(-static)
endif()

if(CMAKE_CROSSCOMPILING AND DRAV_BUILD_TESTS)
  # Under wine the build folder is reached as drive Z:, which the tests need for the paths
  # compiled into them (their scratch directories are on drive C:).
  set(DRAV_TEST_PATH_PREFIX "Z:")
  find_program(DRAV_WINE NAMES wine wine64 PATHS /usr/lib/wine REQUIRED)
  find_program(DRAV_WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine REQUIRED)
  set(DRAV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

  # GoogleTest built from Debian's sources with this compiler.
  if(NOT TARGET GTest::gtest)
    set(DRAV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
    if(NOT EXISTS ${DRAV_GTEST_SOURCE}/CMakeLists.txt)
      message(FATAL_ERROR "GoogleTest's sources were not found in ${DRAV_GTEST_SOURCE}: "
                          "`.ci/need-packages googletest` installs them")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${DRAV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest)  # older releases name no namespaced targets
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  endif()
endif()

# The byte-identity comparison with a Linux build of the same sources, when one is named.
set(DRAV_LINUX_BUILD "" CACHE PATH "A Linux build folder to compare the Windows programs with")
if(CMAKE_CROSSCOMPILING AND DRAV_BUILD_TESTS AND DRAV_LINUX_BUILD)
  enable_testing()
  add_test(NAME PlatformsLeaveTheSameBytes
           COMMAND ${PROJECT_SOURCE_DIR}/.ci/compare-platforms.sh ${DRAV_LINUX_BUILD}
                   ${CMAKE_BINARY_DIR})
  set_tests_properties(PlatformsLeaveTheSameBytes PROPERTIES TIMEOUT 600)
endif()
