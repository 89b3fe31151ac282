# Test helpers: one GoogleTest executable per unit, each test case its own CTest test.
include(GoogleTest)

# ponderix_add_gtest(<name> SOURCES <files...> LIBS <targets...> [QT] [THREADED])
# QT: the test runs widgets on Qt's offscreen platform.
# THREADED: the test runs threads of its own or of the driver; its cases carry the label
# "threaded" and the target threaded_tests builds it (the ThreadSanitizer stage of the test script).
function(ponderix_add_gtest name)
  cmake_parse_arguments(ARG "QT;THREADED" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  # MALLOC_PERTURB_: glibc fills fresh allocations with a non-zero byte (and freed ones with its
  # complement), so that a text written without its terminating NUL shows instead of passing by luck.
  # TSAN_OPTIONS: Qt's own uninstrumented painting threads (tests/tsan.supp).
  set(env "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
          "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp"
          "MALLOC_PERTURB_=165"
          "PONDERIX_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  if(ARG_QT)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  string(REPLACE ";" "\\\\\\\\\\\\\\;" env "${env}") # kept one value through the list expansions of test discovery
  set(labels "")
  if(ARG_THREADED)
    set(labels threaded)
    if(NOT TARGET threaded_tests)
      add_custom_target(threaded_tests)
    endif()
    add_dependencies(threaded_tests ${name})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${env}" LABELS "${labels}")
endfunction()
