# Windows build: the executable's metadata (version record, icon, manifest) goes into
# TalvoUpdater.exe through the resource script.
set(TALVO_WIN32_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/TalvoUpdater.rc)
if(MSVC)
  # MSVC's linker writes a manifest of its own; it merges ours into it when given the file,
  # and the resource script then leaves its copy out.
  list(APPEND TALVO_WIN32_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/TalvoUpdater.manifest)
  add_compile_definitions(TALVO_MANIFEST_FROM_LINKER)
endif()
