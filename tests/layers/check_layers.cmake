# Fails when a file includes a layer above its own, or a stage includes
# another stage or the reporter. Run as
#   cmake -DSOURCE_DIR=<checkout> -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)
# Layers, lowest first; folders of one rank may not include each other.
set(ranks "support:0" "set:1" "develop:2" "exposure:2" "align:2" "maps:2" "blend:2"
  "pipeline:3" "app:4" "batch:4")
# Stages compute: what the user is told belongs to the pipeline.
set(silent_folders exposure align maps blend set)

foreach(entry IN LISTS ranks)
  string(REPLACE ":" ";" pair "${entry}")
  list(GET pair 0 folder)
  list(GET pair 1 rank)
  set(rank_of_${folder} ${rank})
endforeach()

set(faults "")
foreach(entry IN LISTS ranks)
  string(REPLACE ":" ";" pair "${entry}")
  list(GET pair 0 folder)
  file(GLOB files "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.h")
  foreach(path IN LISTS files)
    file(STRINGS "${path}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" included "${line}")
      if(NOT included MATCHES "/")
        continue()  # generated headers and the like
      endif()
      string(REGEX REPLACE "/.*$" "" target "${included}")
      file(RELATIVE_PATH shown "${SOURCE_DIR}" "${path}")
      if(NOT DEFINED rank_of_${target})
        list(APPEND faults "${shown} includes ${included}, which is in no layer")
      elseif(NOT target STREQUAL folder AND
             NOT rank_of_${target} LESS rank_of_${folder})
        list(APPEND faults "${shown} includes ${included} of a layer not below its own")
      endif()
      if(folder IN_LIST silent_folders AND included STREQUAL "support/reporter.h")
        list(APPEND faults "${shown} includes the reporter: a stage computes, the pipeline tells")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Layering broken:\n  ${text}")
endif()
message(STATUS "Every include points to its own layer or one below")
