# quillet_version_info(<target> <description>): gives a Windows program a VERSIONINFO
# resource with the project's version, which is set in one place: project() in the top
# CMakeLists.txt.
function(quillet_version_info target description)
  set(QUILLET_FILE_DESCRIPTION "${description}")
  set(QUILLET_FILE_NAME "${target}.exe")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version-info.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
