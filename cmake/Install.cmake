# What `cmake --install` puts on a Linux system: both programs, manual pages
# made from their own --help, the desktop entry, icons, AppStream metadata and
# bash completion. The Debian packages (debian/) split it in two.
include(GNUInstallDirs)

find_program(VARNET_HELP2MAN help2man REQUIRED)
find_program(VARNET_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(VARNET_GZIP gzip REQUIRED)

# The release's date is that of the latest entry in debian/changelog, the one
# place it is written; AppStream wants it as YYYY-MM-DD.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog)
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
  message(FATAL_ERROR "debian/changelog: no date in the latest entry's last line")
endif()
set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND month_names ${CMAKE_MATCH_2} month)
math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
string(LENGTH "${month}" month_digits)
if(month_digits EQUAL 1)
  set(month "0${month}")
endif()
set(VARNET_RELEASE_DATE "${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1}")
# Reverse-DNS form of the home page's host, as AppStream wants its ids.
set(VARNET_APPSTREAM_ID org.example.varnet)

set(VARNET_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VARNET_GENERATED_DIR ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS varnet varnet-send RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages: help2man reads each program's --help and --version, so every
# option and exit status a program lists appears in its page without being
# written twice; the include file adds what --help does not say.
set(manpages)
foreach(program varnet varnet-send)
  set(page ${VARNET_GENERATED_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page} ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VARNET_GENERATED_DIR}/man
    COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${VARNET_HELP2MAN} -DPROGRAM=$<TARGET_FILE:${program}>
            -DINCLUDE=${VARNET_PACKAGING_DIR}/man/${program}.h2m -DOUTPUT=${page}
            -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMAND ${VARNET_GZIP} -9 -n -k -f ${page}
    DEPENDS ${program} ${VARNET_PACKAGING_DIR}/man/${program}.h2m
            ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Manual page ${program}(1)"
    VERBATIM)
  list(APPEND manpages ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Icons at the sizes desktops look for, drawn from one scalable picture.
set(icons)
foreach(size 16 22 24 32 48 64 128 256)
  set(icon ${VARNET_GENERATED_DIR}/icons/${size}x${size}/varnet.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VARNET_GENERATED_DIR}/icons/${size}x${size}
    COMMAND ${VARNET_RSVG_CONVERT} --width=${size} --height=${size} --format=png
            --output=${icon} ${VARNET_PACKAGING_DIR}/icons/varnet.svg
    DEPENDS ${VARNET_PACKAGING_DIR}/icons/varnet.svg
    COMMENT "Icon ${size}x${size}"
    VERBATIM)
  list(APPEND icons ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${VARNET_PACKAGING_DIR}/icons/varnet.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

configure_file(${VARNET_PACKAGING_DIR}/varnet.metainfo.xml.in
               ${VARNET_GENERATED_DIR}/${VARNET_APPSTREAM_ID}.metainfo.xml @ONLY)

add_custom_target(varnet_packaging_assets ALL
  DEPENDS ${manpages} ${icons})

install(FILES ${VARNET_PACKAGING_DIR}/varnet.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VARNET_GENERATED_DIR}/${VARNET_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${VARNET_PACKAGING_DIR}/bash-completion/varnet-send
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
