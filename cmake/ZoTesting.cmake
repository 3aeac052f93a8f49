# zo_add_test(NAME src... [LIBS lib...] [LABELS label...] [TIMEOUT seconds])
# One line per test program: builds it against GoogleTest and registers every
# case with CTest so that each case shows up (and fails) on its own.
include(GoogleTest)
function(zo_add_test name)
  cmake_parse_arguments(ZT "" "TIMEOUT" "LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ZT_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ZT_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(NOT ZT_TIMEOUT)
    set(ZT_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ZT_TIMEOUT} LABELS "${ZT_LABELS}"
               ENVIRONMENT "ZO_BIN_DIR=${PROJECT_BINARY_DIR}")
endfunction()
