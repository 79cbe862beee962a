# Install step of the Windows build made on another system, where windeployqt cannot run: gathers
# the Qt runtime beside the installed programs from what they themselves need.
#   - the QML modules the scenes import, as qmlimportscanner finds them, into bin/qml/;
#   - the platform plugin, the JPEG reader (the pictures are JPEGs; PNG is Qt's own) and the
#     native widget style, into bin/<kind>/;
#   - every DLL the programs, plugins and QML plugins import, followed through the Qt's and the
#     compiler's folders (libstdc++ stripped of its debugging information);
#   - qt.conf, naming where the plugins and modules are.
# Set before it runs: TALVO_QT_PREFIX (the Qt for Windows), TALVO_QML_SOURCE_DIR,
# TALVO_RUNTIME_DIRS (the compiler's runtime folders), TALVO_OBJDUMP, TALVO_STRIP, TALVO_BUILD_DIR.
set(bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
set(programs "${bin}/TalvoUpdater.exe" "${bin}/talvo-flash.exe")

# QML modules: a module inside another module's folder comes with that folder.
execute_process(COMMAND "${TALVO_QT_PREFIX}/bin/qmlimportscanner" -rootPath "${TALVO_QML_SOURCE_DIR}"
                        -importPath "${TALVO_QT_PREFIX}/qml"
                OUTPUT_VARIABLE imports RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "qmlimportscanner failed (${status})")
endif()
string(JSON count LENGTH "${imports}")
math(EXPR last "${count} - 1")
set(module_dirs "")
foreach(i RANGE ${last})
  string(JSON type ERROR_VARIABLE no_type GET "${imports}" ${i} type)
  string(JSON path ERROR_VARIABLE no_path GET "${imports}" ${i} path)
  if(type STREQUAL "module" AND NOT no_path AND IS_DIRECTORY "${path}")
    file(RELATIVE_PATH relative "${TALVO_QT_PREFIX}/qml" "${path}")
    list(APPEND module_dirs "${relative}")
  endif()
endforeach()
list(REMOVE_DUPLICATES module_dirs)
list(SORT module_dirs)
set(copied "")
foreach(dir IN LISTS module_dirs)
  set(inside FALSE)
  foreach(outer IN LISTS copied)
    if(dir MATCHES "^${outer}/")
      set(inside TRUE)
    endif()
  endforeach()
  if(NOT inside)
    get_filename_component(parent "${bin}/qml/${dir}" DIRECTORY)
    file(COPY "${TALVO_QT_PREFIX}/qml/${dir}" DESTINATION "${parent}")
    list(APPEND copied "${dir}")
  endif()
endforeach()
message(STATUS "QML modules: ${copied}")

foreach(plugin platforms/qwindows.dll imageformats/qjpeg.dll styles/qwindowsvistastyle.dll)
  get_filename_component(kind "${plugin}" DIRECTORY)
  file(COPY "${TALVO_QT_PREFIX}/plugins/${plugin}" DESTINATION "${bin}/${kind}")
endforeach()

# What Windows itself provides is not followed: DLLs outside the Qt's and the compiler's folders.
# CMake looks for a Windows program's DLLs by their names in lower case: on a file system that
# tells case, it finds them through links named so.
set(lookup "${TALVO_BUILD_DIR}/runtime-lookup")
file(REMOVE_RECURSE "${lookup}")
file(MAKE_DIRECTORY "${lookup}")
foreach(dir "${TALVO_QT_PREFIX}/bin" ${TALVO_RUNTIME_DIRS})
  file(GLOB dlls "${dir}/*.dll")
  foreach(dll IN LISTS dlls)
    get_filename_component(name "${dll}" NAME)
    string(TOLOWER "${name}" lower)
    if(NOT EXISTS "${lookup}/${lower}")
      file(CREATE_LINK "${dll}" "${lookup}/${lower}" SYMBOLIC)
    endif()
  endforeach()
endforeach()
file(GLOB_RECURSE libraries "${bin}/*.dll")
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM "windows+pe")
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL "objdump")
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${TALVO_OBJDUMP}")
file(GET_RUNTIME_DEPENDENCIES
     EXECUTABLES ${programs}
     LIBRARIES ${libraries}
     DIRECTORIES "${lookup}"
     RESOLVED_DEPENDENCIES_VAR resolved
     UNRESOLVED_DEPENDENCIES_VAR unresolved
     POST_EXCLUDE_FILES_STRICT)
foreach(link IN LISTS resolved)
  file(REAL_PATH "${link}" library)
  get_filename_component(name "${library}" NAME)
  file(COPY "${library}" DESTINATION "${bin}")
  foreach(dir IN LISTS TALVO_RUNTIME_DIRS)
    if(library MATCHES "^${dir}/")
      # The compiler's DLLs carry debugging information (libstdc++: 24 MB, 2 MB without).
      execute_process(COMMAND "${TALVO_STRIP}" --strip-unneeded "${bin}/${name}" RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "stripping ${name} failed")
      endif()
    endif()
  endforeach()
endforeach()
list(LENGTH resolved resolved_count)
message(STATUS "Runtime: ${resolved_count} libraries; left to Windows: ${unresolved}")

file(WRITE "${bin}/qt.conf" "[Paths]\nPrefix = .\nPlugins = .\nQml2Imports = qml\n")
