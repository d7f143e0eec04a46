# cmake -DDEST=<dir> -DWORK=<dir> [-DPACKAGE=<name>] -P fetch-debian-source.cmake
# Unpacks a Debian source package (with Debian's patches applied) into DEST, fetched by
# apt from the configured deb-src entries. A DEST that already holds the sources is kept.
if(NOT PACKAGE)
  set(PACKAGE libjpeg-turbo)
endif()
if(EXISTS ${DEST}/CMakeLists.txt)
  return()
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND apt-get source --download-only ${PACKAGE}
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
file(GLOB dsc ${WORK}/*.dsc)
if(NOT rc EQUAL 0 OR NOT dsc)
  # Source indices may be missing or stale although deb-src entries exist: refresh once.
  execute_process(COMMAND apt-get update -qq RESULT_VARIABLE ignored)
  execute_process(COMMAND apt-get source --download-only ${PACKAGE}
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
  file(GLOB dsc ${WORK}/*.dsc)
endif()
if(NOT rc EQUAL 0 OR NOT dsc)
  message(FATAL_ERROR "apt-get source ${PACKAGE} failed: the build needs deb-src entries in apt's "
                      "sources and an apt-get update (scripts/setup does both).")
endif()
list(GET dsc 0 dsc)
execute_process(COMMAND dpkg-source --no-check -x ${dsc} ${WORK}/unpacked
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-source could not unpack ${dsc}")
endif()
file(REMOVE_RECURSE ${DEST})
file(RENAME ${WORK}/unpacked ${DEST})
