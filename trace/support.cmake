# Time and number texts, field readers and converters, and the server processes' shared
# functions, in the trace library.
target_sources(trace PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/timetext.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fieldread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serverutil.cpp)
