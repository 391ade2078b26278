# Writes SHA256SUMS into a firmware folder for the images named, one line
# each in the format sha256sum writes and sha256sum -c reads: the SHA-256 in
# lower-case hex, two spaces, the bare file name. CMake computes the
# checksums itself, so the build needs no sha256sum program.
#
# usage: cmake -P writechecksumlist.cmake -- FOLDER IMAGE...
cmake_minimum_required(VERSION 3.19)

set(_images)
set(_folder)
set(_arguments FALSE)
math(EXPR _last "${CMAKE_ARGC} - 1")
foreach(_index RANGE ${_last})
    set(_argument "${CMAKE_ARGV${_index}}")
    if(NOT _arguments)
        if(_argument STREQUAL "--")
            set(_arguments TRUE)
        endif()
    elseif(NOT _folder)
        set(_folder "${_argument}")
    else()
        list(APPEND _images "${_argument}")
    endif()
endforeach()
if(NOT _folder OR NOT _images)
    message(FATAL_ERROR "usage: cmake -P writechecksumlist.cmake -- FOLDER IMAGE...")
endif()

set(_list "")
foreach(_image IN LISTS _images)
    file(SHA256 "${_folder}/${_image}" _checksum)
    string(APPEND _list "${_checksum}  ${_image}\n")
endforeach()
# Written whole or not at all: a list cut short would stop every flow.
file(WRITE "${_folder}/SHA256SUMS.tmp" "${_list}")
file(RENAME "${_folder}/SHA256SUMS.tmp" "${_folder}/SHA256SUMS")
