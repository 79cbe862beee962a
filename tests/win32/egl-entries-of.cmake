# Helper of check-egl-entries.cmake: the entries for the libraries in DIR, or a fatal error.
include(${EGL_CMAKE})
talvo_egl_entries(${DIR} entries)
