# The Debian package, made by `cpack -G DEB` in a release build (see
# scripts/package.sh, which also sets Debian's hardening flags).
# Install.cmake comes first: it sets the maintainer and home page.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Varnet maintainers")
set(CPACK_PACKAGE_CONTACT "${VARNET_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send a file unchanged to a printer queue or TCP port")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARNET_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VARNET_HOME_PAGE}")
# Depends are what dpkg-shlibdeps finds the programs linked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Printing to a local queue needs a scheduler, on this machine or another.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The extended description; CPack indents it and marks the empty line as
# Debian's control files want. The synopsis above is its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Varnet sends one file, byte for byte and unconverted, to a printer: as a
raw job through the local print scheduler, or straight to the printer's TCP
port (9100 by default). No filter or driver touches the data, so PCL,
PostScript or label printer jobs, and printer firmware, reach the device
exactly as the file holds them.

The package holds the window program, varnet, which a file manager can open
print files with, and varnet-send, which sends a file or standard input to
many printers at once without a display, for scripts and servers, and tells
by its exit status what was delivered.")

include(CPack)
