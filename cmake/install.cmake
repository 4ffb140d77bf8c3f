# Installation and packaging: the Veldrun binary, its man page and the Slurm
# recipe, installed
# with `cmake --install` or packaged as a .deb with `cpack -G DEB`.
#
# The installed binary finds the CUDA runtime and cuBLAS through its run path,
# which points at the CUDA library directory it was built against, so it runs
# on a node without any library path set. No Debian package provides those
# libraries (they come with the CUDA toolkit from NVIDIA), so the package does
# not depend on them; its description and the man page say what it needs.

include(GNUInstallDirs)

set(VELDRUN_INSTALL_RPATH "${CUDAToolkit_LIBRARY_DIR}"
    CACHE STRING "Run path of the installed Veldrun: where it finds the CUDA runtime and cuBLAS")
set_target_properties(Veldrun PROPERTIES INSTALL_RPATH "${VELDRUN_INSTALL_RPATH}")
install(TARGETS Veldrun RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages are installed compressed, as Debian's policy asks and as man reads
# them; -n keeps the name and time stamp out, so the file is reproducible.
find_program(VELDRUN_GZIP gzip REQUIRED)
set(VELDRUN_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/Veldrun.1.gz)
add_custom_command(OUTPUT ${VELDRUN_MAN_PAGE}
  COMMAND ${VELDRUN_GZIP} -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/doc/Veldrun.1 > ${VELDRUN_MAN_PAGE}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/doc/Veldrun.1
  VERBATIM)
add_custom_target(veldrun_man_page ALL DEPENDS ${VELDRUN_MAN_PAGE})
install(FILES ${VELDRUN_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Slurm recipe: the drain snippet where slurmd can run it on every node,
# the batch script as a template to copy.
install(PROGRAMS contrib/slurm/veldrun-drain.sh DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/veldrun)
install(FILES contrib/slurm/veldrun-check.sbatch DESTINATION ${CMAKE_INSTALL_DATADIR}/veldrun/slurm)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veldrun)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exact check of the double-precision matrix multiplication of NVIDIA GPUs")
# Debian wants the long description in lines of at most 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Veldrun tests every NVIDIA GPU of a machine at once: on each it multiplies\n"
  "matrices of growing order with cuBLAS DGEMM and checks every element of\n"
  "every product exactly. It exits with status 0 when every GPU came through\n"
  "and with status 1 otherwise, so that a batch scheduler can drain a node\n"
  "whose check fails.\n"
  "\n"
  "It needs the NVIDIA driver, and the CUDA ${CUDAToolkit_VERSION_MAJOR} runtime and cuBLAS libraries\n"
  "in ${VELDRUN_INSTALL_RPATH}, where it was built to find them. They come with\n"
  "NVIDIA's CUDA toolkit, not from a Debian package, so this package does not\n"
  "depend on them.")
set(CPACK_PACKAGE_CONTACT "Veldrun maintainers <root@localhost>"
    CACHE STRING "Maintainer of the Veldrun package, as 'name <address>'")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# Depends is worked out when the package is made, from the built binary, by
# cmake/package_depends.cmake.
set(VELDRUN_PACKAGED_BINARY $<TARGET_FILE:Veldrun>)
set(VELDRUN_CUDA_LIBRARY_DIR ${CUDAToolkit_LIBRARY_DIR})
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake CONTENT
"set(VELDRUN_PACKAGED_BINARY \"${VELDRUN_PACKAGED_BINARY}\")
set(VELDRUN_CUDA_LIBRARY_DIR \"${VELDRUN_CUDA_LIBRARY_DIR}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/package_depends.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake)

include(CPack)
