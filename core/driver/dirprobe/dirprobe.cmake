# The dirprobe program. The IMAP client library's headers are C only: the login check is C.
find_library(CCLIENT_LIBRARY NAMES c-client REQUIRED)
find_library(LDAP_LIBRARY NAMES ldap REQUIRED)
add_executable(dirprobe
  ${CMAKE_CURRENT_LIST_DIR}/dirprobe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resolveprint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/imapcheck.c)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/imapcheck.c PROPERTIES
  COMPILE_OPTIONS "-Wno-unused-parameter;-Wno-sign-compare;-Wno-cpp")
target_include_directories(dirprobe PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dirprobe PRIVATE testged resolver apicln drvtrace platform_console platform
  ${LDAP_LIBRARY} ${CCLIENT_LIBRARY})
