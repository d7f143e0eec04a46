# Dependencies point one way: each folder may include, of the project's own folders, only
# those listed for it. A file belongs to the longest folder of the list that holds it, and so
# does an include ("services/store/sqlite/Database.h" is of services/store/sqlite, not of
# services/store). Included by the top-level CMakeLists.txt (a bad include fails the
# configure step) and run by CTest as `cmake -P cmake/CheckLayers.cmake` (it fails the test).
cmake_policy(VERSION 3.25)

function(quillet_check_layers top)
  set(layers
    # What quillet-services and the programs that run it share: the event lines and how
    # amounts are written. It includes nothing of the others.
    "protocol: protocol"
    "net: net"
    "research: research net"
    "widgets: widgets framework"
    "framework: framework"
    "app: app framework widgets research net"
    # The Quillet Data window: its own model and the framework; it runs quillet-services and
    # reads its lines (protocol), and includes nothing of services/.
    "datawindow: datawindow framework protocol"
    # The data service: text rules at the bottom, the store interface on them, its two
    # implementations, serving and importing beside each other over the interface, fetching
    # over importing, the program on top. Limits.h, in services/ itself, is for all.
    "services: services"
    "services/text: services/text services protocol"
    "services/store: services/store services/text services"
    "services/store/sqlite: services/store/sqlite services/store services/text services"
    "services/store/clickhouse: services/store/clickhouse services/store services/text services"
    "services/serve: services/serve services/store services/text services"
    "services/import: services/import services/store services/text services protocol"
    # Fetching public data: a source of inputs for the importers, over the store interface.
    "services/get: services/get services/import services/store services/text services protocol"
    "services/program: services/program services/get services/serve services/import services/store/sqlite
       services/store/clickhouse services/store services/text services protocol"
    "cli: cli framework research net protocol")
  set(folders "")
  foreach(entry IN LISTS layers)
    string(REGEX MATCH "^([a-z/]+):" ignored "${entry}")
    list(APPEND folders "${CMAKE_MATCH_1}")
  endforeach()
  # The listed folder that holds a path (relative to top), longest first; empty when none.
  function(layer_of path out)
    set(best "")
    foreach(folder IN LISTS folders)
      string(LENGTH "${folder}" length)
      string(LENGTH "${best}" bestLength)
      if(path MATCHES "^${folder}/" AND length GREATER bestLength)
        set(best "${folder}")
      endif()
    endforeach()
    set(${out} "${best}" PARENT_SCOPE)
  endfunction()

  set(errors "")
  foreach(entry IN LISTS layers)
    string(REGEX MATCH "^([a-z/]+): (.*)$" ignored "${entry}")
    set(folder "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "[ \t\n]+" ";" allowed "${CMAKE_MATCH_2}")
    file(GLOB_RECURSE sources "${top}/${folder}/*.h" "${top}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
      file(RELATIVE_PATH shown "${top}" "${source}")
      layer_of("${shown}" own)
      if(NOT own STREQUAL folder)
        continue()  # checked with the deeper folder it belongs to
      endif()
      file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
      foreach(line IN LISTS includes)
        string(REGEX MATCH "\"([^\"]+)\"" ignored "${line}")
        layer_of("${CMAKE_MATCH_1}" target)
        if(target STREQUAL "")
          string(REGEX MATCH "^[a-z]+" target "${CMAKE_MATCH_1}")
        endif()
        if(NOT target IN_LIST allowed)
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
