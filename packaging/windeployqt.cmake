# Install step of the Windows build: windeployqt gathers the Qt libraries, plugins and QML
# modules beside the installed program; the QML modules then move into qml\, where qt.conf
# points the engine (the program leaves its own folder out of the QML import path).
set(bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
execute_process(COMMAND "${TALVO_WINDEPLOYQT}" --release --qmldir "${TALVO_QML_SOURCE_DIR}"
                        "${bin}/TalvoUpdater.exe"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "windeployqt failed (${status})")
endif()
file(MAKE_DIRECTORY "${bin}/qml")
file(GLOB entries LIST_DIRECTORIES true "${bin}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT entry STREQUAL "${bin}/qml")
    file(GLOB_RECURSE descriptors "${entry}/qmldir")
    if(descriptors)
      get_filename_component(name "${entry}" NAME)
      file(RENAME "${entry}" "${bin}/qml/${name}")
    endif()
  endif()
endforeach()
file(WRITE "${bin}/qt.conf" "[Paths]\nPrefix = .\nPlugins = .\nQml2Imports = qml\n")
