# The Windows installer, built by CPack with NSIS: one folder under Program
# Files holding the program, the device library, firmware/, the Qt and
# compiler runtime DLLs the program loads, and the licence notices; a
# Start-menu shortcut that starts the program in that folder (it reads
# ./firmware/ from its working folder); an uninstaller. site\ in that folder
# is the site's (platform/devicelibrarylocation_windows.cpp): nothing here
# installs, replaces or removes anything there. Included from CMakeLists.txt
# beside it.

# Qt's DLLs beside the program, and the plugins it needs in the folders Qt
# looks for them in beside the program: the windows platform and the native
# style. Qt's D-Bus is not used on Windows.
install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
    DESTINATION ${QD740N_INSTALL_PRIVATE_DIR})
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
    DESTINATION ${QD740N_INSTALL_PRIVATE_DIR}/platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>
    DESTINATION ${QD740N_INSTALL_PRIVATE_DIR}/styles)

# The compiler's runtime DLLs, which Qt, the program and the device library
# load, and zlib's, which the simulated device loads (../cmake/windows.cmake).
install(FILES ${QD740N_RUNTIME_DLLS} DESTINATION ${QD740N_INSTALL_PRIVATE_DIR})
if(MSVC)
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${QD740N_INSTALL_PRIVATE_DIR})
    include(InstallRequiredSystemLibraries)
endif()
install(FILES windows-licenses.txt DESTINATION ${QD740N_INSTALL_PRIVATE_DIR}
    RENAME LICENSES.txt)

# The runtime and Qt DLLs come with their debug information (libstdc++-6.dll
# is 23.7 MB with it, 4.3 MB without); the installed copies go without it,
# and so do the program and the simulated device. Their symbol tables stay,
# so a crash report can still name functions. A maker's library is never
# changed.
if(MINGW AND CMAKE_STRIP)
    set(_stripped qd740n-updater.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll
        platforms/qwindows.dll styles/qwindowsvistastyle.dll)
    foreach(_dll IN LISTS QD740N_RUNTIME_DLLS)
        get_filename_component(_name ${_dll} NAME)
        list(APPEND _stripped ${_name})
    endforeach()
    if(NOT QD740N_USE_MAKER_LIBRARY)
        list(APPEND _stripped qd_api.dll)
    endif()
    list(TRANSFORM _stripped PREPEND "${QD740N_INSTALL_PRIVATE_DIR}/")
    install(CODE "
        foreach(_file ${_stripped})
            set(_path \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${_file}\")
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\${_path}\"
                RESULT_VARIABLE _result)
            if(NOT _result EQUAL 0)
                message(FATAL_ERROR \"Cannot strip \${_path}\")
            endif()
        endforeach()")
endif()

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME qd740n-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QD740N updater developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the QD740N")
set(CPACK_PACKAGE_FILE_NAME qd740n-updater-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "QD740N Firmware Updater")
# One entry under Programs and Features, whichever version is installed; a
# new version removes the one before it (windows-installer.nsh.in).
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "QD740N Firmware Updater")
set(CPACK_NSIS_DISPLAY_NAME "QD740N firmware updater ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "QD740N firmware updater ${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/windows-licenses.txt)
# A 64-bit installer for a 64-bit program: the default 32-bit one would
# install into the 32-bit Program Files and see the 32-bit registry.
configure_file(windows-installer.nsh.in ${CMAKE_CURRENT_BINARY_DIR}/windows-installer.nsh @ONLY)
# An install over an earlier one goes into that one's folder, wherever it was
# installed (from the folder page, or with /D=), unless /D= names another:
# its site\ stays in use. The installer records its folder under this key.
string(CONCAT CPACK_NSIS_DEFINES
    "  Target amd64-unicode\n"
    "  InstallDirRegKey HKLM \"Software\\${CPACK_PACKAGE_VENDOR}\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\" \"\"\n"
    "  !include \"${CMAKE_CURRENT_BINARY_DIR}/windows-installer.nsh\"")
# Neither the installer nor the uninstaller changes anything while the
# updater runs: it may be writing an image to the device, which the library
# reads by path. The installer removes the version installed before itself,
# after that check, rather than before its first page (as
# CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL would, where nothing can run
# before it). Both are the first commands of their sections. A folder outside
# Program Files then gets rights that let only administrators change it,
# before the files go into it.
string(CONCAT CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS
    "  !insertmacro QD740N_REFUSE_WHILE_RUNNING \"run the installer\"\n"
    "  !insertmacro QD740N_UNINSTALL_PREVIOUS\n"
    "  !insertmacro QD740N_PROTECT_FOLDER")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "  !insertmacro QD740N_REFUSE_WHILE_RUNNING \"run the uninstaller\"")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_INSTALLED_ICON_NAME qd740n-updater.exe)
set(CPACK_NSIS_MUI_ICON ${CMAKE_CURRENT_SOURCE_DIR}/qd740n-updater.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_CURRENT_SOURCE_DIR}/qd740n-updater.ico)
# Written into the installer's script as they stand, backslashes and all.
set(CPACK_VERBATIM_VARIABLES ON)
# The shortcut's working folder is the output folder at the time it is made.
# The operator's guide opens in the browser (../docs/CMakeLists.txt).
string(CONCAT CPACK_NSIS_CREATE_ICONS_EXTRA
    "  SetOutPath \"$INSTDIR\"\n"
    "  CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\QD740N firmware updater.lnk\" "
    "\"$INSTDIR\\qd740n-updater.exe\"\n"
    "  CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\Operator's guide.lnk\" "
    "\"$INSTDIR\\doc\\operator-guide.html\"")
string(CONCAT CPACK_NSIS_DELETE_ICONS_EXTRA
    "  Delete \"$SMPROGRAMS\\$MUI_TEMP\\QD740N firmware updater.lnk\"\n"
    "  Delete \"$SMPROGRAMS\\$MUI_TEMP\\Operator's guide.lnk\"")

include(CPack)
