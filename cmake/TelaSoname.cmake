# tela_library_soname(OUT LIBRARY_FILE)
# Sets OUT to the run-time name (DT_SONAME) of the shared library LIBRARY_FILE, read with the
# toolchain's objdump; a library without one gives its file name. For programs that load a
# library with dlopen by the name the dynamic linker would use.
function(tela_library_soname OUT LIBRARY_FILE)
  get_filename_component(real ${LIBRARY_FILE} REALPATH)
  get_filename_component(name ${real} NAME)
  if(CMAKE_OBJDUMP)
    execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${real} OUTPUT_VARIABLE headers
                    RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0 AND headers MATCHES "SONAME[ \t]+([^ \t\r\n]+)")
      set(name ${CMAKE_MATCH_1})
    endif()
  endif()
  set(${OUT} ${name} PARENT_SCOPE)
endfunction()
