# The product's code without platform calls: the command line's splitting,
# the device store and the reading of device identities, the queue of volume
# changes, the order of the service's states, the building of log lines and
# of the strings every event ends with, and bounded text. Listed
# here once, for the product and for the native fuzzers (fuzz/), which
# include this file. Its code traces
# through Trace, which the product's trace or a fuzzer's stand-in provides.
add_library(plugtrail_pure OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/app/command_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device/approved_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device/device_identity.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device/device_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device/keyboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device/volume_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device/volume_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/eventlog/event_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log/log_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service/service_status.cpp
  ${CMAKE_CURRENT_LIST_DIR}/util/text.cpp
)
target_include_directories(plugtrail_pure PUBLIC ${CMAKE_CURRENT_LIST_DIR})
