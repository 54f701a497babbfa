# Installation and the Debian package.
#
#   <prefix>/bin/dirprobe                   the console tool
#   <prefix>/lib/cgi-bin/mailtrack          the report program, in Debian's CGI directory
#   <prefix>/share/man/man1/dirprobe.1.gz   manual pages, compressed as Debian policy asks
#   <prefix>/share/man/man8/mailtrack.8.gz
#   <prefix>/share/doc/tela-tools/copyright, changelog.gz
#   /etc/lighttpd/conf-available/10-tela-mailtrack.conf
#                                           lighttpd snippet serving mailtrack at
#                                           /scripts/mailtrack and /cgi-bin/mailtrack, off
#                                           until lighty-enable-mod
#
# `cpack` in the build directory makes the package tela-tools; its run-time dependencies come
# from dpkg-shlibdeps. Include this file after the programs' directories: it names their
# targets.
include(GNUInstallDirs)

# The CGI directory is lib/cgi-bin below the prefix on every architecture, not the multiarch
# library directory.
set(TELA_INSTALL_CGIDIR "lib/cgi-bin" CACHE STRING
    "Directory of the CGI program mailtrack, relative to the installation prefix")
# Debian's lighttpd reads its snippets from /etc only, whatever the prefix.
set(TELA_INSTALL_LIGHTTPDDIR "/etc/lighttpd/conf-available" CACHE PATH
    "Directory of the lighttpd configuration snippet (absolute)")
if(NOT IS_ABSOLUTE "${TELA_INSTALL_LIGHTTPDDIR}")
  message(FATAL_ERROR "TELA_INSTALL_LIGHTTPDDIR must be an absolute path")
endif()
set(tela_lighttpd_snippet 10-tela-mailtrack.conf)

install(TARGETS dirprobe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS mailtrack RUNTIME DESTINATION ${TELA_INSTALL_CGIDIR})

# Manual pages: the version filled in, then gzip -9n (no name, no time stamp: the same bytes at
# every build).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(tela_man_pages "")
foreach(page dirprobe.1 mailtrack.8)
  configure_file(${PROJECT_SOURCE_DIR}/doc/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
    COMMAND ${GZIP_PROGRAM} -9nkf ${PROJECT_BINARY_DIR}/man/${page}
    DEPENDS ${PROJECT_BINARY_DIR}/man/${page}
    VERBATIM)
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  list(APPEND tela_man_pages ${PROJECT_BINARY_DIR}/man/${page}.gz)
endforeach()

# The package's copyright and changelog, where Debian keeps them (the changelog compressed the
# same way as the manual pages).
set(tela_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tela-tools)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
          ${PROJECT_BINARY_DIR}/doc/changelog
  COMMAND ${GZIP_PROGRAM} -9nkf ${PROJECT_BINARY_DIR}/doc/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
  VERBATIM)
# Built with the manual pages.
list(APPEND tela_man_pages ${PROJECT_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${tela_docdir})
add_custom_target(tela_manpages ALL DEPENDS ${tela_man_pages})

# The snippet names the path mailtrack gets at install time, so it is made then: the prefix of
# `cmake --install --prefix`, or the package's /usr under cpack.
set(snippet_in ${PROJECT_SOURCE_DIR}/packaging/lighttpd/${tela_lighttpd_snippet}.in)
set(snippet_out ${PROJECT_BINARY_DIR}/packaging/${tela_lighttpd_snippet})
install(CODE "
  set(TELA_MAILTRACK_PATH \"\${CMAKE_INSTALL_PREFIX}/${TELA_INSTALL_CGIDIR}/mailtrack\")
  configure_file(\"${snippet_in}\" \"${snippet_out}\" @ONLY)
  list(APPEND CMAKE_ABSOLUTE_DESTINATION_FILES \"${TELA_INSTALL_LIGHTTPDDIR}/${tela_lighttpd_snippet}\")
  file(INSTALL DESTINATION \"${TELA_INSTALL_LIGHTTPDDIR}\" TYPE FILE FILES \"${snippet_out}\")
")

# ---- Debian package --------------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tela-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tela maintainers <maintainers@users.noreply.c-seed-6f1947d2.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extension probe and delivery report of the messaging servers")
set(CPACK_PACKAGE_DESCRIPTION
"dirprobe resolves telephone extensions the way the telephony driver does,
through the alpha and omega ONC RPC servers and the LDAP directory, prints
what it found and checks the user's IMAP login.
.
mailtrack is a CGI program that writes the HTML delivery report of one
message sent through the gateway, with its transmission log. A lighttpd
snippet that serves it at /scripts/mailtrack (where the gateway's report
links point) and at /cgi-bin/mailtrack is installed disabled; enable it
with lighty-enable-mod. Purging the package also removes that link.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# CPack marks no file as a conffile by itself: list the snippet. postrm removes the snippet's
# link in conf-enabled on purge.
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles
     "${TELA_INSTALL_LIGHTTPDDIR}/${tela_lighttpd_snippet}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
