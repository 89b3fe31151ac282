# Test helpers: one GoogleTest executable per unit, each test case its own CTest test.
include(GoogleTest)

# ponderix_add_gtest(<name> SOURCES <files...> LIBS <targets...> [QT])
# QT: the test runs widgets on Qt's offscreen platform.
function(ponderix_add_gtest name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(env "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
          "PONDERIX_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  if(ARG_QT)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  string(REPLACE ";" "\\\\\\\\\\\\\\;" env "${env}") # kept one value through the list expansions of test discovery
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${env}")
endfunction()
