# The LDAP client library and its encoding library, found once for the whole build: every
# target that links LDAP links tela::ldap.
pkg_check_modules(TELA_LDAP REQUIRED IMPORTED_TARGET GLOBAL ldap lber)
add_library(tela::ldap ALIAS PkgConfig::TELA_LDAP)
