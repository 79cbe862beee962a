# Windows packages made by CPack (`cmake --build build --target package`): an NSIS installer
# for all users, into Program Files, with a Start-menu shortcut and an uninstaller registered in
# Apps and features, and a ZIP of the same files. The installer check in tests/packaging
# includes this file in a stand-in project.
#
# The Qt runtime beside the program: on Windows, windeployqt of the Qt the program is built with
# (TALVO_WINDEPLOYQT; found beside qmake when not given) gathers it. Cross-built on another system
# (TALVO_WINDOWS_QT, see cmake/mingw-w64-x86_64.cmake), where windeployqt cannot run,
# windows-runtime.cmake gathers it from the programs' own imports.
if(NOT TALVO_QML_SOURCE_DIR)
  set(TALVO_QML_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../src/qml)
endif()
if(TALVO_WINDOWS_QT AND NOT CMAKE_HOST_WIN32)
  install(CODE "set(TALVO_QT_PREFIX [[${TALVO_WINDOWS_QT}]])
set(TALVO_QML_SOURCE_DIR [[${TALVO_QML_SOURCE_DIR}]])
set(TALVO_RUNTIME_DIRS [[${TALVO_MINGW_RUNTIME_DIRS}]])
set(TALVO_OBJDUMP [[${CMAKE_OBJDUMP}]])
set(TALVO_STRIP [[${CMAKE_STRIP}]])
set(TALVO_BUILD_DIR [[${CMAKE_BINARY_DIR}]])")
  install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/windows-runtime.cmake)
else()
  if(NOT TALVO_WINDEPLOYQT AND COMMAND talvo_qt_bin_dir)
    talvo_qt_bin_dir(qt_bin_dir)
    find_program(TALVO_WINDEPLOYQT windeployqt HINTS ${qt_bin_dir})
  endif()
  if(TALVO_WINDEPLOYQT)
    install(CODE "set(TALVO_WINDEPLOYQT [[${TALVO_WINDEPLOYQT}]])\nset(TALVO_QML_SOURCE_DIR [[${TALVO_QML_SOURCE_DIR}]])")
    install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/windeployqt.cmake)
  else()
    message(WARNING "windeployqt not found: the Windows packages carry no Qt runtime")
  endif()
endif()

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME TalvoUpdater)
set(CPACK_PACKAGE_VENDOR Quellmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY TalvoUpdater)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY TalvoUpdater)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES")
else()
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
endif()
# The installer is built for the program's architecture: a 64-bit installer for a 64-bit build,
# a 32-bit one for a 32-bit build, unless TALVO_NSIS_TARGET names the makensis target. NSIS's own
# release for Windows carries the 32-bit stubs only: with it, a 64-bit build takes x86-unicode,
# whose installer puts a 64-bit program into the 64-bit Program Files all the same.
set(TALVO_NSIS_TARGET "" CACHE STRING
    "makensis target of the installer: x86-unicode or amd64-unicode; empty: the build's pointer size")
if(TALVO_NSIS_TARGET)
  set(nsis_target ${TALVO_NSIS_TARGET})
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(nsis_target x86-unicode)
else()
  set(nsis_target amd64-unicode)
endif()
set(CPACK_NSIS_DEFINES "Target ${nsis_target}")
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_DISPLAY_NAME "Talvo Updater")
set(CPACK_NSIS_PACKAGE_NAME "Talvo Updater")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\TalvoUpdater.exe")
set(CPACK_NSIS_MUI_ICON ${CMAKE_CURRENT_LIST_DIR}/../resources/win/TalvoUpdater.ico)
set(CPACK_NSIS_MUI_UNIICON ${CPACK_NSIS_MUI_ICON})
# The shortcut is made here rather than from CPACK_PACKAGE_EXECUTABLES, which can give it no
# arguments. Its working folder is the program's own, which users cannot write to: the program
# keeps its runtime files in the per-user folder.
set(CPACK_NSIS_CREATE_ICONS_EXTRA [[
  SetOutPath "$INSTDIR\bin"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Talvo Updater.lnk" "$INSTDIR\bin\TalvoUpdater.exe" "--user-folder"
]])
set(CPACK_NSIS_DELETE_ICONS_EXTRA [[
  Delete "$SMPROGRAMS\$MUI_TEMP\Talvo Updater.lnk"
]])
include(CPack)
