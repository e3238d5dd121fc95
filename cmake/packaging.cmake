# Installation and packages: the three programs, the README with the examples, a manual page
# per program; CPack makes a .deb on Linux and a .zip on Windows.
target_link_libraries(drav-mkmodel PRIVATE drav_version)
target_link_libraries(drav-audit PRIVATE drav_version)

include(GNUInstallDirs)
install(TARGETS drav drav-mkmodel drav-audit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/drav.1 ${PROJECT_SOURCE_DIR}/docs/man/drav-mkmodel.1
                ${PROJECT_SOURCE_DIR}/docs/man/drav-audit.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  # No man on Windows: the pages travel as text beside the README.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/man DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME drav)
set(CPACK_PACKAGE_VENDOR "DRAV maintainers")
set(CPACK_PACKAGE_CONTACT "DRAV maintainers <maintainers@drav.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Tangent stiffness matrix and LU factorization step of a bar-structure analysis suite")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "DRAV maintainers <maintainers@drav.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  # The C and C++ runtimes the programs link to, found from the built files where dpkg-dev
  # is there to look.
  find_program(DRAV_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(DRAV_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
  endif()
endif()
include(CPack)

# cpack makes the package of this build and the test looks inside it.
if(DRAV_BUILD_TESTS)
  enable_testing()
  find_program(DRAV_DPKG_DEB dpkg-deb)
  find_program(DRAV_PYTHON3 python3)
  if(WIN32 AND DRAV_PYTHON3)
    add_test(NAME PackageIsComplete
             COMMAND ${PROJECT_SOURCE_DIR}/tests/package/check_package.sh ${CMAKE_BINARY_DIR} zip)
  elseif(NOT WIN32 AND DRAV_DPKG_DEB)
    add_test(NAME PackageIsComplete
             COMMAND ${PROJECT_SOURCE_DIR}/tests/package/check_package.sh ${CMAKE_BINARY_DIR} deb)
  endif()
  if(TEST PackageIsComplete)
    set_tests_properties(PackageIsComplete PROPERTIES TIMEOUT 300 RUN_SERIAL ON)
  endif()
endif()
