# The project's version as a header for the programs that print it (drav-mkmodel --version,
# drav-audit --version).
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${CMAKE_BINARY_DIR}/generated/drav/version.h @ONLY)
add_library(drav_version INTERFACE)
target_include_directories(drav_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
