# Run by CPack once it has staged the package's files: reads the package's
# dependencies off the staged program and device library with dpkg-shlibdeps.
# CPack's own use of dpkg-shlibdeps would also add maintainer scripts that run
# ldconfig for any library below /usr/lib, which a library in the program's
# private folder has no use for.
if(NOT CPACK_GENERATOR STREQUAL "DEB" OR NOT CPACK_QD740N_DPKG_SHLIBDEPS)
    return()
endif()

set(_private ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_QD740N_PRIVATE_DIR})
file(GLOB _binaries ${_private}/*)
# dpkg-shlibdeps runs from the top of a source package; an empty control file
# is all it reads there.
set(_work ${CPACK_TOPLEVEL_DIRECTORY}/qd740n-shlibdeps)
file(REMOVE_RECURSE ${_work})
file(WRITE ${_work}/debian/control "")
execute_process(COMMAND ${CPACK_QD740N_DPKG_SHLIBDEPS} -O -l${_private} ${_binaries}
    WORKING_DIRECTORY ${_work}
    RESULT_VARIABLE _result
    OUTPUT_VARIABLE _substvars
    ERROR_VARIABLE _errors)
file(REMOVE_RECURSE ${_work})
if(NOT _result EQUAL 0 OR NOT _substvars MATCHES "shlibs:Depends=([^\n]*)")
    message(FATAL_ERROR "dpkg-shlibdeps failed on ${_binaries}:\n${_errors}")
endif()
if(CPACK_DEBIAN_PACKAGE_DEPENDS)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}, ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
endif()
