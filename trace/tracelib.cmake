# The trace library proper: parameters and trace.cfg, trace output, the plain and the rotating
# trace file, the rotation thread with log aging, and the event-log writer.
target_sources(trace PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/trace_params.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/disk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rotate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rotatethread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/eventlog.cpp)
