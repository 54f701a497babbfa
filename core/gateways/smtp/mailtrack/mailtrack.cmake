# Gateway libraries of the report program and the program mailtrack itself.
set(mailtrack_dir ${CMAKE_CURRENT_LIST_DIR})
pkg_check_modules(LDAP REQUIRED IMPORTED_TARGET ldap lber)

if(TARGET platform AND TARGET trace)
  # Error texts, media and state names, client functions and job files.
  add_library(gateway STATIC
    ${mailtrack_dir}/exterror.cpp
    ${mailtrack_dir}/gwutils.cpp
    ${mailtrack_dir}/jobfiles.cpp)
  # Omega record printers and readers, server handles and omega call wrappers, the gateway
  # utilities of the configuration, and the configuration itself.
  foreach(source otools.cpp ohandles.cpp gwsetup.cpp gwconfig.cpp)
    if(EXISTS ${mailtrack_dir}/${source})
      target_sources(gateway PRIVATE ${mailtrack_dir}/${source})
    endif()
  endforeach()
  target_include_directories(gateway PUBLIC ${mailtrack_dir})
  target_link_libraries(gateway PUBLIC platform trace PkgConfig::LDAP)
endif()

if(TARGET gateway AND TARGET cgihtml)
  # The report page, apart from main so that tests can link it.
  add_library(mailtrack_report STATIC ${mailtrack_dir}/report.cpp)
  target_include_directories(mailtrack_report PUBLIC ${mailtrack_dir})
  target_link_libraries(mailtrack_report PUBLIC gateway cgihtml)

  add_executable(mailtrack ${mailtrack_dir}/mailtrack.cpp)
  target_link_libraries(mailtrack PRIVATE mailtrack_report)
  # Nothing in the program calls the gateway configuration, yet its key table is part of the
  # program: make the linker take the table's member out of the library.
  if(EXISTS ${mailtrack_dir}/gwconfig.cpp AND EXISTS ${mailtrack_dir}/gwsetup.cpp
     AND EXISTS ${mailtrack_dir}/ohandles.cpp)
    target_link_options(mailtrack PRIVATE "LINKER:--undefined=ConfigKeyTable")
  endif()
endif()
