# The graphics runtime that the program writes next to itself on Windows (ANGLE's EGL and
# OpenGL ES libraries and the Direct3D shader compiler) travels in the bundle under "egl/".
set(TALVO_EGL_LIBRARIES d3dcompiler_47.dll libEGL.dll libGLESv2.dll)

# The folder of the Qt installation's programs (qmake's folder), where Qt for Windows keeps
# the three libraries.
function(talvo_qt_bin_dir out_var)
  get_target_property(qmake Qt5::qmake IMPORTED_LOCATION)
  get_filename_component(dir "${qmake}" DIRECTORY)
  set(${out_var} "${dir}" PARENT_SCOPE)
endfunction()

# Sets out_var to the bundle entries (qrc lines) for the three libraries found in dir;
# stops the configuration when one is missing.
function(talvo_egl_entries dir out_var)
  set(entries "")
  foreach(library ${TALVO_EGL_LIBRARIES})
    if(NOT EXISTS "${dir}/${library}")
      message(FATAL_ERROR "${library} not found in ${dir}. The bundle needs the graphics runtime of the Qt "
                          "installation; point TALVO_EGL_DIR at the folder that holds ${TALVO_EGL_LIBRARIES}.")
    endif()
    string(APPEND entries "    <file alias=\"egl/${library}\">${dir}/${library}</file>\n")
  endforeach()
  set(${out_var} "${entries}" PARENT_SCOPE)
endfunction()
