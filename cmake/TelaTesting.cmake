# tela_add_test(NAME SOURCES a.cpp ... [LIBS lib ...] [LABELS unit|integration|e2e|slow ...]
#               [ENVIRONMENT VAR=value ...] [TIMEOUT seconds] [WRAPPER cmd ...])
# One GoogleTest program; every test in it becomes a CTest test with the given labels.
# WRAPPER runs the program through a command (for example the private namespace script); the
# program's tests are then registered as one CTest test, since discovery cannot run inside it.
function(tela_add_test NAME)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT;WRAPPER" ${ARGN})
  add_executable(${NAME} ${T_SOURCES})
  # The threaded programs are collected for the target that builds only them (the TSan run).
  if("threads" IN_LIST T_LABELS)
    set_property(GLOBAL APPEND PROPERTY TELA_THREADED_TESTS ${NAME})
  endif()
  target_link_libraries(${NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # Slow tests wait out long time-outs: a high cost has CTest start them first, so that the
  # rest runs while they wait.
  set(cost 0)
  if("slow" IN_LIST T_LABELS)
    set(cost 1000)
  endif()
  set(env "TELA_SOURCE_DIR=${PROJECT_SOURCE_DIR}" "TELA_BINARY_DIR=${PROJECT_BINARY_DIR}" ${T_ENVIRONMENT})
  if(T_WRAPPER)
    add_test(NAME ${NAME} COMMAND ${T_WRAPPER} $<TARGET_FILE:${NAME}>)
    set_tests_properties(${NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
                         ENVIRONMENT "${env}" COST ${cost})
  else()
    # The environment goes in through env(1) as the test's launcher: discovered tests cannot
    # carry a list-valued ENVIRONMENT property.
    set_property(TARGET ${NAME} PROPERTY CROSSCOMPILING_EMULATOR /usr/bin/env ${env})
    gtest_discover_tests(${NAME}
      DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT ${T_TIMEOUT})
    # The labels are a list too: a script that CTest runs after the discovered tests are known
    # gives every one of them all its labels.
    set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${NAME}_labels.cmake)
    file(WRITE ${labels_script}
      "if(${NAME}_TESTS)\n  set_tests_properties(\${${NAME}_TESTS} PROPERTIES LABELS \"${T_LABELS}\" COST ${cost})\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
  endif()
endfunction()

# tela_threaded_tests_target(): a target `threaded_tests` that builds the programs labelled
# threads and the simulated server they start, and nothing else.
function(tela_threaded_tests_target)
  get_property(programs GLOBAL PROPERTY TELA_THREADED_TESTS)
  add_custom_target(threaded_tests)
  add_dependencies(threaded_tests ${programs} simserver)
endfunction()
