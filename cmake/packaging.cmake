# The Debian package: `cpack -G DEB` in the build folder (scripts/check-package.sh builds, installs
# and checks it). Its dependencies are the shared libraries the programs link, found by
# dpkg-shlibdeps, and the authorities HTTPS trusts, which libcurl loads without linking them (Qt's
# X11 platform plugin comes with libqt6gui6).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR Ferrowick)
set(CPACK_PACKAGE_CONTACT "${QUORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.ferrowick.com/quorvane/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bulk whois lookups lined up in a table")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorvane looks up the whois records of many domain names, IP addresses and
AS numbers in one run and lines the answers up side by side: one row per
address, one column per field, and for the registries' port-43 WHOIS and
RDAP the same summary columns first for every registry (status, registrar,
dates, name servers, abuse contact, network).
.
The package holds the window (quorvane) and the command-line tool
(quorvane-cli), which streams JSON lines, tab-separated text, CSV or a
workbook for scripts and long lists.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl (the first HTTP transfer), libxlsxwriter (the first workbook), libidn2 (the first
# international name) and simdjson (the first RDAP answer) are loaded when needed rather than
# linked (curlloader.cpp, xlsxloader.cpp, idnaloader.cpp, simdjsonloader.cpp), so
# dpkg-shlibdeps does not see them: named here, at least the versions the build requires.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "ca-certificates, libcurl4 (>= 7.87.0), libxlsxwriter${XLSXWRITER_SOVERSION} (>= ${XLSXWRITER_LIBRARY_VERSION}), libidn2-0 (>= ${IDN2_VERSION}), libsimdjson${SIMDJSON_SOVERSION} (>= ${SIMDJSON_VERSION})")
# The window's "Arial", the connectivity check at start-up, and the spreadsheet application's
# look-up; each is optional.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, iputils-ping, xdg-utils")
include(CPack)
