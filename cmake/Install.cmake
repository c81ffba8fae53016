# What `cmake --install` puts on a Linux system: both programs, manual pages
# made from their own --help, the desktop entry, icons, AppStream metadata,
# bash completion and the package's documentation.
include(GNUInstallDirs)

find_program(VARNET_HELP2MAN help2man REQUIRED)
find_program(VARNET_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(VARNET_GZIP gzip REQUIRED)

# The date of the release named by project()'s version, for the AppStream
# release and the changelog. Change it together with the version.
set(VARNET_RELEASE_DATE 2026-12-07)
set(VARNET_MAINTAINER "Varnet maintainers <maintainers@users.noreply.c-seed-6af71b2c.example>")
# Reverse-DNS form of the home page's host, as AppStream wants its ids.
set(VARNET_APPSTREAM_ID org.example.varnet)

set(VARNET_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VARNET_GENERATED_DIR ${PROJECT_BINARY_DIR}/packaging)
set(VARNET_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/varnet)

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

# The changelog's date wants RFC 5322 form.
string(REPLACE "-" ";" date_parts ${VARNET_RELEASE_DATE})
list(GET date_parts 0 release_year)
list(GET date_parts 1 release_month)
list(GET date_parts 2 release_day)
set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
math(EXPR month_index "${release_month} - 1")
list(GET month_names ${month_index} release_month_name)
# Zeller's congruence, so the weekday cannot disagree with the date.
set(zeller_year ${release_year})
set(zeller_month ${release_month})
if(zeller_month LESS 3)
  math(EXPR zeller_month "${zeller_month} + 12")
  math(EXPR zeller_year "${zeller_year} - 1")
endif()
math(EXPR weekday_index
     "(${release_day} + (13 * (${zeller_month} + 1)) / 5 + ${zeller_year} + ${zeller_year} / 4 - ${zeller_year} / 100 + ${zeller_year} / 400) % 7")
set(weekday_names Sat Sun Mon Tue Wed Thu Fri)
list(GET weekday_names ${weekday_index} release_weekday)
set(VARNET_RELEASE_DATE_RFC5322
    "${release_weekday}, ${release_day} ${release_month_name} ${release_year} 12:00:00 +0000")

configure_file(${VARNET_PACKAGING_DIR}/varnet.metainfo.xml.in
               ${VARNET_GENERATED_DIR}/${VARNET_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${VARNET_PACKAGING_DIR}/changelog.in ${VARNET_GENERATED_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${VARNET_GENERATED_DIR}/changelog.gz
  COMMAND ${VARNET_GZIP} -9 -n -k -f ${VARNET_GENERATED_DIR}/changelog
  DEPENDS ${VARNET_GENERATED_DIR}/changelog
  VERBATIM)

add_custom_target(varnet_packaging_assets ALL
  DEPENDS ${manpages} ${icons} ${VARNET_GENERATED_DIR}/changelog.gz)

install(FILES ${VARNET_PACKAGING_DIR}/varnet.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VARNET_GENERATED_DIR}/${VARNET_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${VARNET_PACKAGING_DIR}/bash-completion/varnet-send
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${VARNET_PACKAGING_DIR}/copyright ${VARNET_GENERATED_DIR}/changelog.gz
        DESTINATION ${VARNET_DOCDIR})
