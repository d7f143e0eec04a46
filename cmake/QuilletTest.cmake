# quillet_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>])
# One GoogleTest executable, one CTest entry. In the Windows tree CTest runs it through
# the Wine wrapper (CMAKE_CROSSCOMPILING_EMULATOR).
function(quillet_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
