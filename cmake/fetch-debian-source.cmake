# cmake -DDEST=<dir> -DWORK=<dir> [-DPACKAGE=<name>] -P fetch-debian-source.cmake
# Unpacks a Debian source package (with Debian's patches applied) into DEST, fetched by
# apt from the configured deb-src entries. A DEST that already holds the sources is kept.
if(NOT PACKAGE)
  set(PACKAGE libjpeg-turbo)
endif()
if(EXISTS ${DEST}/debian/changelog)
  return()
endif()

# Tries the newest version first. A mirror may index a version (a security update) whose
# files it does not hold yet; the other versions apt knows of are tried after it.
function(download_source)
  execute_process(COMMAND apt-cache showsrc ${PACKAGE} OUTPUT_VARIABLE listing RESULT_VARIABLE ignored)
  string(REGEX MATCHALL "\nVersion: [^\n]+" versions "\n${listing}")
  set(candidates ${PACKAGE})
  foreach(line IN LISTS versions)
    string(REPLACE "\nVersion: " "" version "${line}")
    list(APPEND candidates "${PACKAGE}=${version}")
  endforeach()
  list(REMOVE_DUPLICATES candidates)
  foreach(candidate IN LISTS candidates)
    file(REMOVE_RECURSE ${WORK})
    file(MAKE_DIRECTORY ${WORK})
    execute_process(COMMAND apt-get source --download-only ${candidate}
                    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
    file(GLOB dsc ${WORK}/*.dsc)
    if(rc EQUAL 0 AND dsc)
      set(dsc ${dsc} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(dsc "" PARENT_SCOPE)
endfunction()

download_source()
if(NOT dsc)
  # Source indices may be missing or stale although deb-src entries exist: refresh once.
  execute_process(COMMAND apt-get update -qq RESULT_VARIABLE ignored)
  download_source()
endif()
if(NOT dsc)
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
