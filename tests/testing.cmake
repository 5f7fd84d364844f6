# wrapper_add_gtest(NAME SOURCES... [LIBS ...]): one GoogleTest program, run by
# CTest as one test. In the Windows tree it runs under Wine, after the prefix
# fixture has made the build tree's throwaway prefix.
if(WRAPPER_WINDOWS)
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${WRAPPER_WINE_TEMPLATE}
                   ${WRAPPER_WINE_PREFIX})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 LABELS wine
                       ENVIRONMENT "WRAPPER_WINE_ARCH=${WRAPPER_WINE_ARCH}")
endif()

function(wrapper_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  wrapper_mark_wine_test(${name})
endfunction()

# Any test that starts Windows programs needs the prefix, and the Wine of the
# tree's word size (scripts/wine-env.sh reads WRAPPER_WINE_ARCH). The label lets
# a host without wine32 leave these out of the i686 tree (ctest -LE wine).
function(wrapper_mark_wine_test test)
  if(WRAPPER_WINDOWS)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine LABELS wine
      ENVIRONMENT "WINEPREFIX=${WRAPPER_WINE_PREFIX};WRAPPER_WINE_TEMPLATE=${WRAPPER_WINE_TEMPLATE};WINEDEBUG=-all;WRAPPER_WINE_ARCH=${WRAPPER_WINE_ARCH}")
  endif()
endfunction()
