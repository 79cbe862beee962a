# Checks the Windows build's graphics-runtime entries of the bundle without a Windows Qt:
# fake libraries in a folder standing in for Qt's bin folder become "egl/" entries that rcc
# maps to those files, the bundle template has a place for them, and a missing library
# stops the configuration.
# Usage: cmake -DSOURCE_DIR=... -DRCC=... -DOUT_DIR=... -P check-egl-entries.cmake
include(${SOURCE_DIR}/resources/win/egl.cmake)

set(qt_bin ${OUT_DIR}/qt-bin)
file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${qt_bin})
foreach(library ${TALVO_EGL_LIBRARIES})
  file(WRITE ${qt_bin}/${library} "stand-in for ${library}\n")
endforeach()

talvo_egl_entries(${qt_bin} entries)
file(WRITE ${OUT_DIR}/egl.qrc "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n${entries}</qresource>\n</RCC>\n")
execute_process(COMMAND ${RCC} --list-mapping ${OUT_DIR}/egl.qrc
  OUTPUT_VARIABLE mapping RESULT_VARIABLE rcc_result)
if(NOT rcc_result EQUAL 0)
  message(FATAL_ERROR "rcc refused the entries:\n${entries}")
endif()
foreach(library d3dcompiler_47.dll libEGL.dll libGLESv2.dll)
  if(NOT mapping MATCHES ":/egl/${library}\t${qt_bin}/${library}")
    message(FATAL_ERROR "no :/egl/${library} mapped to ${qt_bin}/${library} in:\n${mapping}")
  endif()
  message(STATUS "PASS :/egl/${library} <- ${qt_bin}/${library}")
endforeach()

file(READ ${SOURCE_DIR}/resources/TalvoUpdater.qrc.in template)
if(NOT template MATCHES "<qresource[^>]*>.*@TALVO_EGL_ENTRIES@.*</qresource>")
  message(FATAL_ERROR "the bundle template has no @TALVO_EGL_ENTRIES@ inside its qresource")
endif()
message(STATUS "PASS bundle template takes the entries")

file(REMOVE ${qt_bin}/libGLESv2.dll)
execute_process(COMMAND ${CMAKE_COMMAND} -DEGL_CMAKE=${SOURCE_DIR}/resources/win/egl.cmake -DDIR=${qt_bin}
                        -P ${CMAKE_CURRENT_LIST_DIR}/egl-entries-of.cmake
  RESULT_VARIABLE missing_result ERROR_VARIABLE missing_error)
if(missing_result EQUAL 0 OR NOT missing_error MATCHES "libGLESv2.dll not found")
  message(FATAL_ERROR "a missing libGLESv2.dll did not stop the configuration:\n${missing_error}")
endif()
message(STATUS "PASS a missing library stops the configuration")
