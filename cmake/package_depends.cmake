# Read by cpack before it makes a package: sets the .deb's Depends from the
# shared libraries the built Veldrun binary needs, as dpkg-shlibdeps works
# them out. The CUDA runtime and cuBLAS are left out: dpkg-shlibdeps knows no
# Debian package for them, and where NVIDIA's own packages installed them,
# their packages are excluded, so that the .deb depends only on what Debian
# provides.
#
# Needs VELDRUN_PACKAGED_BINARY (the binary to analyse) and
# VELDRUN_CUDA_LIBRARY_DIR (where it finds the CUDA libraries).

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

find_program(VELDRUN_SHLIBDEPS dpkg-shlibdeps)
if(NOT VELDRUN_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps (from dpkg-dev) is needed to work out the package's dependencies")
endif()

set(exclusions "")
file(GLOB cuda_libraries "${VELDRUN_CUDA_LIBRARY_DIR}/libcudart.so*" "${VELDRUN_CUDA_LIBRARY_DIR}/libcublas*.so*")
foreach(library IN LISTS cuda_libraries)
  file(REAL_PATH "${library}" library_file)
  # dpkg -S fails for a file no package owns, which is the usual case.
  execute_process(COMMAND dpkg-query -S "${library_file}"
                  OUTPUT_VARIABLE owners RESULT_VARIABLE owned ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(owned EQUAL 0)
    string(REGEX REPLACE ":[^\n]*" "" owners "${owners}")
    string(REPLACE "," ";" owners "${owners}")
    string(REPLACE "\n" ";" owners "${owners}")
    foreach(owner IN LISTS owners)
      string(STRIP "${owner}" owner)
      list(APPEND exclusions "-x${owner}")
    endforeach()
  endif()
endforeach()
list(REMOVE_DUPLICATES exclusions)

# dpkg-shlibdeps insists on a debian/control in its working directory.
set(work "${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps")
file(REMOVE_RECURSE "${work}")
file(WRITE "${work}/debian/control" "")
execute_process(COMMAND ${VELDRUN_SHLIBDEPS} --ignore-missing-info -O ${exclusions} "${VELDRUN_PACKAGED_BINARY}"
                WORKING_DIRECTORY "${work}"
                OUTPUT_VARIABLE substitutions ERROR_VARIABLE diagnostics RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dpkg-shlibdeps failed on ${VELDRUN_PACKAGED_BINARY}:\n${diagnostics}")
endif()
if(NOT substitutions MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps found no dependencies of ${VELDRUN_PACKAGED_BINARY}:\n${substitutions}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
