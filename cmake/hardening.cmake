# Hardened programs: the flags Debian's own packages are built with (dpkg-buildflags with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all: fortified functions, a strong stack protector, format
# checks, PIE, read-only relocations bound at start) plus stack-clash and control-flow protection.
# Written here rather than read from dpkg-buildflags, so that a build without dpkg gets them too.
# Every build type but Debug (fortified functions need the optimiser); the sanitizer and fuzz
# builds keep their own instrumentation.
option(TALVO_HARDENING "Build with stack protector, fortified functions, PIE and immediate binding" ON)
if(NOT TALVO_HARDENING OR TALVO_SANITIZE OR TALVO_TSAN OR TALVO_FUZZ
   OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckPIESupported)

set(talvo_release $<NOT:$<CONFIG:Debug>>)
set(hardening_flags)
# The stack protector's and the fortified functions' checks are glibc's on Linux. mingw-w64 has
# them in libssp, linked statically below: its DLL would be one more file to carry.
list(APPEND hardening_flags -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
list(APPEND hardening_flags -Wformat -Werror=format-security)
# Neither exists on every target (control-flow protection is x86's): only where the compiler
# takes them without a word. mingw-w64's GCC 12 accepts stack-clash protection, then stops with an
# internal compiler error (i386_pe_seh_unwind_emit) on real code: not for Windows.
set(optional_flags -fcf-protection)
if(NOT WIN32)
  list(APPEND optional_flags -fstack-clash-protection)
endif()
foreach(flag ${optional_flags})
  string(MAKE_C_IDENTIFIER "TALVO_HAS${flag}" has_flag)
  check_cxx_compiler_flag(${flag} ${has_flag})
  if(${has_flag})
    list(APPEND hardening_flags ${flag})
  endif()
endforeach()
add_compile_options("$<${talvo_release}:${hardening_flags}>")

# PIE, and the relocations read-only after start-up with every symbol bound then. The -z
# options are the ELF linker's; a Windows build has neither.
check_pie_supported(LANGUAGES CXX)
if(CMAKE_CXX_LINK_PIE_SUPPORTED)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
if(CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
  add_link_options("$<${talvo_release}:-Wl,-z,relro;-Wl,-z,now>")
endif()
if(MINGW)
  # Address-space layout randomisation (relocatable, above 4 GB) and no execution from data pages;
  # the checks' library after the objects, so that the archive resolves what they need.
  add_link_options("$<${talvo_release}:-Wl,--dynamicbase;-Wl,--high-entropy-va;-Wl,--nxcompat>")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libssp.a
                  OUTPUT_VARIABLE ssp_archive OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${ssp_archive}" AND EXISTS "${ssp_archive}")
    link_libraries("$<${talvo_release}:${ssp_archive}>")
  else()
    message(FATAL_ERROR "libssp.a not found: mingw-w64's stack protector and fortified functions need it")
  endif()
endif()
