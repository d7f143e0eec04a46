# Dependencies point down only: each folder may include, of the project's own folders, only
# those listed for it. Included by the top-level CMakeLists.txt (a bad include fails the
# configure step) and run by CTest as `cmake -P cmake/CheckLayers.cmake` (it fails the test).
cmake_policy(VERSION 3.25)

function(quillet_check_layers top)
  set(layers
    "net: net"
    "research: research net"
    "widgets: widgets framework"
    "framework: framework"
    "app: app framework widgets research net"
    "cli: cli framework research net")
  set(errors "")
  foreach(entry IN LISTS layers)
    string(REGEX MATCH "^([a-z]+): (.*)$" ignored "${entry}")
    set(folder "${CMAKE_MATCH_1}")
    string(REPLACE " " ";" allowed "${CMAKE_MATCH_2}")
    file(GLOB_RECURSE sources "${top}/${folder}/*.h" "${top}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
      file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
      foreach(line IN LISTS includes)
        string(REGEX MATCH "\"([a-z]+)/" ignored "${line}")
        if(NOT CMAKE_MATCH_1 IN_LIST allowed)
          file(RELATIVE_PATH shown "${top}" "${source}")
          string(APPEND errors "\n  ${shown}: ${line}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(errors)
    message(FATAL_ERROR "Includes that point up or sideways:${errors}")
  endif()
endfunction()

get_filename_component(quillet_top "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
quillet_check_layers("${quillet_top}")
