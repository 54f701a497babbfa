# tela_static_runtime(TARGET)
# Links the C++ runtime and the compiler's support library into the program (a program that is
# started for every request pays for every shared object it loads). Not with a sanitizer: the
# sanitizer runtimes expect the shared C++ runtime.
set(TELA_STATIC_RUNTIME OFF)
if(NOT TELA_SANITIZE AND NOT TELA_TSAN AND NOT TELA_FUZZ)
  set(TELA_STATIC_RUNTIME ON)
endif()
function(tela_static_runtime TARGET)
  if(TELA_STATIC_RUNTIME)
    target_link_options(${TARGET} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
