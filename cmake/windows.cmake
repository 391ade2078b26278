# What the Windows build's programs load besides their own code: the
# compiler's runtime DLLs and zlib's (QD740N_RUNTIME_DLLS, which the installer
# carries), and Qt's. Cross-built on Linux, the image generator and the tests
# run under Wine, the toolchain's emulator, which finds those DLLs only through
# WINEPATH, the Windows paths of their folders as Wine names them (drive Z:
# is /): QD740N_TEST_ENVIRONMENT holds it for the tests' ENVIRONMENT, and
# QD740N_TOOL_LAUNCHER, put before a built program's path in a custom
# command, runs that program under Wine with it.

set(QD740N_RUNTIME_DLLS)
if(MINGW)
    foreach(_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
            OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
            message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${_dll} is")
        endif()
        file(REAL_PATH ${_path} _path)
        list(APPEND QD740N_RUNTIME_DLLS ${_path})
    endforeach()
endif()
if(TARGET ZLIB::ZLIB)
    get_filename_component(_zlib_dir "${ZLIB_LIBRARY}" DIRECTORY)
    find_file(QD740N_ZLIB_DLL NAMES zlib1.dll zlib.dll libz.dll
        HINTS ${_zlib_dir} ${_zlib_dir}/../bin NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT QD740N_ZLIB_DLL)
        message(FATAL_ERROR "No zlib DLL beside ${ZLIB_LIBRARY}")
    endif()
    list(APPEND QD740N_RUNTIME_DLLS ${QD740N_ZLIB_DLL})
endif()

# QD740N_HOST_DRIVE goes before a build-tree path compiled into a program:
# under Wine, a path without a drive is taken on the current folder's drive,
# which a test moves to C: when it works in a temporary folder.
set(QD740N_HOST_DRIVE)
set(QD740N_TEST_ENVIRONMENT)
set(QD740N_TOOL_LAUNCHER)
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
    set(QD740N_HOST_DRIVE Z:)
    set(_folders ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
    foreach(_dll IN LISTS QD740N_RUNTIME_DLLS)
        get_filename_component(_folder ${_dll} DIRECTORY)
        list(APPEND _folders ${_folder})
    endforeach()
    list(REMOVE_DUPLICATES _folders)
    list(TRANSFORM _folders PREPEND "Z:")
    list(TRANSFORM _folders REPLACE "/" "\\\\")
    # Wine's list separator is CMake's too: escaped, it stays one variable.
    list(JOIN _folders "\\;" _escaped)
    list(JOIN _folders "$<SEMICOLON>" _expression)
    set(QD740N_TEST_ENVIRONMENT "WINEPATH=${_escaped}" "WINEDEBUG=-all")
    set(QD740N_TOOL_LAUNCHER ${CMAKE_COMMAND} -E env "WINEPATH=${_expression}" WINEDEBUG=-all
        ${CMAKE_CROSSCOMPILING_EMULATOR})
    # For the program started by hand from the build tree.
    list(JOIN _folders ";" _plain)
    file(WRITE ${PROJECT_BINARY_DIR}/winepath.txt "${_plain}\n")
endif()
