# Linux installation and the Debian package made from it by CPack (`make package`):
# the two programs, the udev rule, a desktop entry with its icons, AppStream metadata,
# manual pages and the package's own documentation.
set(linux_dir ${CMAKE_CURRENT_LIST_DIR}/linux)
# Folders the installation makes get these rights whatever the umask of whoever builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(linux_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(app_id com.quellmark.TalvoUpdater)
set(doc_dir share/doc/talvo-updater)

install(FILES ${PROJECT_SOURCE_DIR}/tools/linux/60-talvo.rules DESTINATION lib/udev/rules.d)
install(FILES ${linux_dir}/${app_id}.desktop DESTINATION share/applications)
install(FILES ${linux_dir}/${app_id}.metainfo.xml DESTINATION share/metainfo)
foreach(size 48 128 256)
  install(FILES ${linux_dir}/icons/${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps
          RENAME ${app_id}.png)
endforeach()

# Manual pages and the changelog go in gzip-compressed without a time stamp, as Debian wants them.
# talvo-flash's page is made from its own --help and --version, so the two cannot drift apart;
# its date is the build's time stamp's month.
find_program(TALVO_HELP2MAN help2man)
find_program(TALVO_GZIP gzip REQUIRED)
set(man_pages ${linux_out}/TalvoUpdater.1.gz)
add_custom_command(OUTPUT ${linux_out}/TalvoUpdater.1.gz
  COMMAND ${TALVO_GZIP} -9nc ${linux_dir}/TalvoUpdater.1 > ${linux_out}/TalvoUpdater.1.gz
  DEPENDS ${linux_dir}/TalvoUpdater.1)
if(TALVO_HELP2MAN)
  add_custom_command(OUTPUT ${linux_out}/talvo-flash.1.gz
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TALVO_SOURCE_DATE_EPOCH} LC_ALL=C.UTF-8
            ${TALVO_HELP2MAN} --no-info --section 1 --name "install firmware on Talvo flash units"
            --output ${linux_out}/talvo-flash.1 $<TARGET_FILE:talvo-flash>
    COMMAND ${TALVO_GZIP} -9nf ${linux_out}/talvo-flash.1
    DEPENDS talvo-flash
    COMMENT "Writing the manual page of talvo-flash from its --help")
  list(APPEND man_pages ${linux_out}/talvo-flash.1.gz)
else()
  message(WARNING "help2man not found (tools/install-deps.sh installs it): no manual page for talvo-flash")
endif()
add_custom_command(OUTPUT ${linux_out}/changelog.gz
  COMMAND ${TALVO_GZIP} -9nc ${linux_dir}/changelog > ${linux_out}/changelog.gz
  DEPENDS ${linux_dir}/changelog)
add_custom_target(talvo_linux_docs ALL DEPENDS ${man_pages} ${linux_out}/changelog.gz)
install(FILES ${man_pages} DESTINATION share/man/man1)
install(FILES ${linux_out}/changelog.gz DESTINATION ${doc_dir})
file(READ ${PROJECT_SOURCE_DIR}/resources/font/OFL.txt TALVO_FONT_LICENSE)
configure_file(${linux_dir}/copyright.in ${linux_out}/copyright @ONLY)
install(FILES ${linux_out}/copyright DESTINATION ${doc_dir})

set(TALVO_PACKAGE_MAINTAINER "Quellmark <support@quellmark.com>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME talvo-updater)
set(CPACK_PACKAGE_VENDOR Quellmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Talvo flash units")
set(CPACK_PACKAGE_DESCRIPTION
    "TalvoUpdater finds a Talvo flash unit on its USB serial port, reads its\n"
    "firmware version and installs the firmware the program carries through the\n"
    "unit's bootstrap loader, guided by a window. The command-line flasher\n"
    "talvo-flash does the same without a window and restores units whose\n"
    "installation was cut off. A udev rule gives the logged-in user access to\n"
    "the unit's port.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TALVO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The QML modules the scenes import, loaded at run time: invisible to dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml-module-qtquick2, qml-module-qtquick-window2, qml-module-qtquick-layouts, qml-module-qtquick-controls")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${linux_dir}/postinst ${linux_dir}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack takes the time of every member and file of the package from SOURCE_DATE_EPOCH in its
# environment: the file it reads before it packs sets it to the build's time stamp, unless the
# caller gives one.
configure_file(${linux_dir}/cpack-options.cmake.in ${linux_out}/cpack-options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${linux_out}/cpack-options.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${linux_dir}/deb-member-modes.cmake)
include(CPack)
