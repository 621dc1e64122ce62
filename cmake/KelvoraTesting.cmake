# Helpers that register unit tests (GoogleTest) and end-to-end tests (Node's test runner) with CTest.
include(GoogleTest)

# Under Wine, the loader of the build's architecture and the kind of prefix it boots: a 64-bit
# build runs under the 64-bit loader named by its path, so that a machine that also has 32-bit
# Wine never boots its prefix with the other one.
if(CMAKE_CROSSCOMPILING AND WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KELVORA_WINE_ENVIRONMENT
        "KELVORA_WINE=/usr/lib/wine/wine64;WINELOADER=/usr/lib/wine/wine64;KELVORA_WINEARCH=win64")
  else()
    set(KELVORA_WINE_ENVIRONMENT "KELVORA_WINE=wine;KELVORA_WINEARCH=win32")
  endif()
  string(APPEND KELVORA_WINE_ENVIRONMENT ";WINEDEBUG=-all;WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
endif()

# kelvora_unit_test(<name> SOURCES <files...> LIBS <targets...>)
# Builds one GoogleTest executable and registers each of its tests with CTest.
function(kelvora_unit_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(CMAKE_CROSSCOMPILING AND WIN32)
    # Under Wine each start of a program costs a second or more: one CTest test per executable,
    # which prints every GoogleTest case and its result.
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=0)
    set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 600
      ENVIRONMENT "${KELVORA_WINE_ENVIRONMENT}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
  endif()
endfunction()

# kelvora_node_test(<name> <file.mjs> [DEPENDS targets...])
# Runs one file with Node's test runner; the tests find the built programs through KELVORA_BUILD_DIR.
function(kelvora_node_test name file)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(NOT ARG_LABELS)
    set(ARG_LABELS e2e)
  endif()
  add_test(NAME ${name}
           COMMAND node --test --test-reporter=spec ${file}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set(environment "KELVORA_BUILD_DIR=${CMAKE_BINARY_DIR};NODE_PATH=${CMAKE_SOURCE_DIR}/node_modules")
  if(CMAKE_CROSSCOMPILING AND WIN32)
    # The Windows programs run under Wine, whose start-up stretches every wait.
    string(APPEND environment ";KELVORA_E2E_WINDOWS=${CMAKE_BINARY_DIR};KELVORA_TEST_TIME_SCALE=3"
           ";${KELVORA_WINE_ENVIRONMENT}")
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    LABELS "${ARG_LABELS}"
    ENVIRONMENT "${environment}")
endfunction()
