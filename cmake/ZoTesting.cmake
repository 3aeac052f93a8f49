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
    PROPERTIES TIMEOUT ${ZT_TIMEOUT} ENVIRONMENT "ZO_BIN_DIR=${PROJECT_BINARY_DIR}")
  # Labels are set on the discovered cases by a file CTest reads after them:
  # a list among the discovery's PROPERTIES is split into key-value words, so
  # a second label became a property of its own (and `ctest -LE e2e` missed
  # every case labelled "tgt;e2e").
  if(ZT_LABELS)
    set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${labels_file}"
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ZT_LABELS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_file}")
  endif()
endfunction()
