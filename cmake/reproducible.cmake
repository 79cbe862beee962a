# A package built twice from one commit is the same package, wherever and whenever it is built.
#
# TALVO_SOURCE_DATE_EPOCH is the one time every time stamp of the build takes: the resource
# collection's entries, the source archive in it, the manual page, the package's files and
# members. SOURCE_DATE_EPOCH in the environment wins (as distributions build); else the time of
# the last commit; outside a git checkout the date of the package's changelog entry.
function(talvo_changelog_epoch changelog out)
  # " -- Name <mail>  Tue, 08 Dec 2026 12:00:00 +0000", the first entry's trailer line.
  file(STRINGS ${changelog} trailer REGEX "^ -- " LIMIT_COUNT 1)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  if(NOT trailer MATCHES
     ", ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([-+])([0-9][0-9])([0-9][0-9])$")
    message(FATAL_ERROR "No date in the first entry of ${changelog}")
  endif()
  set(d ${CMAKE_MATCH_1})
  list(FIND months ${CMAKE_MATCH_2} m)
  set(y ${CMAKE_MATCH_3})
  # Days since 1970-01-01 of a date in the proleptic Gregorian calendar, counted in years that
  # begin in March so that the leap day comes last.
  if(m LESS 2)
    math(EXPR y "${y} - 1")
    math(EXPR m "${m} + 10")
  else()
    math(EXPR m "${m} - 2")
  endif()
  math(EXPR days "${y} * 365 + ${y} / 4 - ${y} / 100 + ${y} / 400 + (153 * ${m} + 2) / 5 + ${d} - 1 - 719468")
  math(EXPR epoch "${days} * 86400 + ${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}
                   - (${CMAKE_MATCH_7}1) * (${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()

set(changelog ${PROJECT_SOURCE_DIR}/packaging/linux/changelog)
set(TALVO_SOURCE_DATE_EPOCH "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TALVO_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
  set(epoch_from "SOURCE_DATE_EPOCH")
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel --git-path HEAD --git-path logs/HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} RESULT_VARIABLE git_failed
                    OUTPUT_VARIABLE git_paths OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REPLACE "\n" ";" git_paths "${git_paths}")
    list(POP_FRONT git_paths git_top)
    # Only a checkout of this very project: not a copy of it unpacked inside another repository.
    get_filename_component(git_top "${git_top}" REALPATH)
    get_filename_component(source_top ${PROJECT_SOURCE_DIR} REALPATH)
    if(NOT git_failed AND git_top STREQUAL source_top)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                      OUTPUT_VARIABLE TALVO_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      set(epoch_from "the last commit")
      # A new commit or another checkout configures again, and so takes the new time.
      foreach(git_path ${git_paths})
        get_filename_component(git_path ${git_path} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
        if(EXISTS ${git_path})
          set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_path})
        endif()
      endforeach()
    endif()
  endif()
  if(NOT TALVO_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    talvo_changelog_epoch(${changelog} TALVO_SOURCE_DATE_EPOCH)
    set(epoch_from "the changelog's first entry")
  endif()
endif()
if(NOT TALVO_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a count of seconds: '${TALVO_SOURCE_DATE_EPOCH}'")
endif()
message(STATUS "Time stamps of the build: ${TALVO_SOURCE_DATE_EPOCH}, from ${epoch_from}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})

# Neither the source folder nor the build folder may show in what is built: file names in the
# debug information (which the linker's build ID is computed over, so it stays in a stripped
# program) and in __FILE__. The build folder's rule comes last, so it is the one taken for the
# build folder inside the source folder. The sanitizer and fuzz builds keep their paths for
# their reports, a Debug build for the debugger.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT (TALVO_SANITIZE OR TALVO_TSAN OR TALVO_FUZZ))
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.;-ffile-prefix-map=${PROJECT_BINARY_DIR}=.;-Wdate-time>")
endif()
