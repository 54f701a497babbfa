# tela_add_test(NAME SOURCES a.cpp ... [LIBS lib ...] LABELS tier [label ...]
#               [MATCHING label regex ...] [THREADED Suite.Case ...] [ENVIRONMENT VAR=value ...]
#               [TIMEOUT seconds] [WRAPPER cmd ...])
# One GoogleTest program; every test in it becomes a CTest test with the given labels. The
# labels name the program's tier: unit, integration or e2e, and slow beside its tier for a
# program of long waits; threads and browser are further labels.
# MATCHING gives a label to those tests only whose names (Suite.Case) match the regular
# expression, as browser for the browser cases of a tier's program.
# THREADED names the threaded cases of a program one by one; they get the label threads (the
# ThreadSanitizer run). threads is never given by MATCHING: a renamed case must not leave that run
# unnoticed, so a named case that the program does not have becomes a failing test
# (NAME.ThreadedCaseMissing.Suite.Case) labelled threads.
# Where the environment variable CI is set when CTest runs, no discovered test counts as skipped
# by its output: a set-up failure (of SetUpTestSuite, say) that gtest reports as "SKIPPED" fails.
# WRAPPER runs the program through a command (for example the private namespace script); the
# program's tests are then registered as one CTest test, since discovery cannot run inside it.
function(tela_add_test NAME)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;MATCHING;THREADED;ENVIRONMENT;WRAPPER" ${ARGN})
  set(tiers ${T_LABELS})
  list(FILTER tiers INCLUDE REGEX "^(unit|integration|e2e)$")
  list(LENGTH tiers tier_count)
  if(NOT tier_count EQUAL 1)
    message(FATAL_ERROR "test ${NAME}: LABELS must name one tier (unit, integration or e2e): ${T_LABELS}")
  endif()
  list(LENGTH T_MATCHING matching_count)
  math(EXPR matching_odd "${matching_count} % 2")
  if(matching_odd OR (T_MATCHING AND T_WRAPPER))
    message(FATAL_ERROR "test ${NAME}: MATCHING takes label and regex pairs, and no WRAPPER")
  endif()
  if("threads" IN_LIST T_MATCHING OR (T_THREADED AND T_WRAPPER))
    message(FATAL_ERROR "test ${NAME}: threaded cases are named by THREADED (not MATCHING), and no WRAPPER")
  endif()
  add_executable(${NAME} ${T_SOURCES})
  # The threaded programs are collected for the target that builds only them (the TSan run).
  if("threads" IN_LIST T_LABELS OR T_THREADED)
    set_property(GLOBAL APPEND PROPERTY TELA_THREADED_TESTS ${NAME})
  endif()
  target_link_libraries(${NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
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
    set(script "if(${NAME}_TESTS)\n")
    if(NOT T_MATCHING AND NOT T_THREADED)
      string(APPEND script "  set_tests_properties(\${${NAME}_TESTS} PROPERTIES LABELS \"${T_LABELS}\" COST ${cost})\n")
    else()
      string(APPEND script "  foreach(t IN LISTS ${NAME}_TESTS)\n    set(labels \"${T_LABELS}\")\n")
      while(T_MATCHING)
        list(POP_FRONT T_MATCHING label regex)
        string(APPEND script "    if(t MATCHES [==[${regex}]==])\n"
          "      list(APPEND labels ${label})\n    endif()\n")
      endwhile()
      if(T_THREADED)
        string(APPEND script "    list(FIND threaded \"\${t}\" at)\n"
          "    if(at GREATER -1)\n      list(APPEND labels threads)\n    endif()\n")
        string(PREPEND script "set(threaded ${T_THREADED})\n")
      endif()
      string(APPEND script "    set_tests_properties(\${t} PROPERTIES LABELS \"\${labels}\" COST ${cost})\n  endforeach()\n")
    endif()
    string(APPEND script "endif()\n")
    foreach(case IN LISTS T_THREADED)
      string(APPEND script "list(FIND ${NAME}_TESTS [==[${case}]==] at)\nif(at EQUAL -1)\n"
        "  add_test([==[${NAME}.ThreadedCaseMissing.${case}]==] ${CMAKE_COMMAND} -E false)\n"
        "  set_tests_properties([==[${NAME}.ThreadedCaseMissing.${case}]==] PROPERTIES LABELS \"${T_LABELS};threads\")\n"
        "endif()\n")
    endforeach()
    string(APPEND script "if(${NAME}_TESTS AND NOT \"\$ENV{CI}\" STREQUAL \"\")\n"
      "  set_tests_properties(\${${NAME}_TESTS} PROPERTIES SKIP_REGULAR_EXPRESSION [==[^no skip where CI is set$]==])\n"
      "endif()\n")
    file(WRITE ${labels_script} "${script}")
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
