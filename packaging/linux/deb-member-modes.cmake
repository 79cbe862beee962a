# Run by CPack once it has made the package. CPack gives the package's members (debian-binary,
# control.tar.gz, data.tar.gz) the rights of the files it made them from, and so the umask of
# whoever builds; they are set to 0644 here, as dpkg-deb writes them. After the archive's
# signature each member has a header of 60 bytes: name, time, owner, group, mode (8 bytes at
# 40), size (10 bytes at 48), and its data padded to an even length.
foreach(package ${CPACK_PACKAGE_FILES})
  file(SIZE ${package} size)
  set(offset 8)
  while(offset LESS size)
    file(READ ${package} header OFFSET ${offset} LIMIT 60)
    string(SUBSTRING "${header}" 40 8 mode)
    string(SUBSTRING "${header}" 48 10 length)
    string(STRIP "${length}" length)
    if(NOT mode STREQUAL "100644  ")
      math(EXPR at "${offset} + 40")
      execute_process(COMMAND sh -c "printf '100644  ' | dd of='${package}' bs=1 seek=${at} conv=notrunc status=none"
                      RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "Could not set the rights of a member of ${package}")
      endif()
    endif()
    math(EXPR offset "${offset} + 60 + ${length} + ${length} % 2")
  endwhile()
endforeach()
