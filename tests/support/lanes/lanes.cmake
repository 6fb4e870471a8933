# Included by tests/CMakeLists.txt, so that every test folder sees these.
#
# Lanes: the Windows tests run side by side (ctest -j), each lane a machine of its own
# in ${CMAKE_BINARY_DIR}/lanes/<lane>: a Wine prefix copied from a template that the first
# lane to start makes once per build tree, its wineserver, an X server, and the test
# servers its tests ask for. The tests of one lane run one after the other (a resource
# lock), so what they share in it (registry, the profile's work folder, named objects,
# the servers' request logs) is never used by two tests at once; two lanes share nothing.
set(velto_lanes_dir ${CMAKE_BINARY_DIR}/lanes)
set(velto_lane_script ${CMAKE_CURRENT_LIST_DIR}/lane)
# The prefix that lane prefixes (and the demo's) are copied from.
set(velto_wine_template ${CMAKE_BINARY_DIR}/wine-template)

# velto_lane(<lane> <test>...): a lane and the tests that run in it. Its fixture <lane>
# starts the X server and the prefix's wineserver, and stops them (with every Windows
# process still running there) after the lane's last test, also when a test failed.
function(velto_lane lane)
  set(dir ${velto_lanes_dir}/${lane})
  add_test(NAME ${lane}.start COMMAND ${velto_lane_script} start ${dir} ${velto_wine_template})
  add_test(NAME ${lane}.stop COMMAND ${velto_lane_script} stop ${dir})
  set_tests_properties(${lane}.start PROPERTIES FIXTURES_SETUP ${lane})
  set_tests_properties(${lane}.stop PROPERTIES FIXTURES_CLEANUP ${lane})
  foreach(test ${ARGN})
    set_property(GLOBAL PROPERTY velto_lane_of_${test} ${lane})
  endforeach()
endfunction()

# velto_lane_32_bit(<lane> <test>...): a lane whose tests start the shipped 32-bit program.
# It runs only where the kernel runs 32-bit x86 code (tools/runs-32-bit) and Debian's
# 32-bit Wine is installed; elsewhere each of its steps is skipped with the reason, which
# CTest's summary shows (never a pass).
function(velto_lane_32_bit lane)
  velto_lane(${lane} ${ARGN})
  set_property(GLOBAL PROPERTY velto_lane_32_bit_${lane} TRUE)
  velto_lane_may_skip(${lane}.start ${lane})
  velto_lane_may_skip(${lane}.stop ${lane})
endfunction()

# A step of a 32-bit lane tells the lane script so, and its skip code counts as a skip.
function(velto_lane_may_skip test lane)
  get_property(needs_32_bit GLOBAL PROPERTY velto_lane_32_bit_${lane})
  if(needs_32_bit)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT VELTO_LANE_32_BIT=1)
    set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77
                         SKIP_REGULAR_EXPRESSION "lane skipped: ")
  endif()
endfunction()

# The lane of a test, and its folder; a test in no lane is an error at configure time.
function(velto_lane_of test lane_variable dir_variable)
  get_property(lane GLOBAL PROPERTY velto_lane_of_${test})
  if(NOT lane)
    message(FATAL_ERROR "test ${test} is in no lane: name it in a velto_lane() of tests/CMakeLists.txt")
  endif()
  set(${lane_variable} ${lane} PARENT_SCOPE)
  set(${dir_variable} ${velto_lanes_dir}/${lane} PARENT_SCOPE)
endfunction()

# velto_wine_test(<name> COMMAND <program> [args...] [TIMEOUT <s>])
# A GoogleTest program under Wine in its lane, on the lane's display. It passes only on
# GoogleTest's closing summary with at least one test passed and none failed: code under
# test that ends its process (the setup program does, by design) would otherwise end a
# test program early with exit code 0, and a gtest filter that no longer matches would
# run nothing.
function(velto_wine_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "COMMAND" ${ARGN})
  velto_lane_of(${name} lane dir)
  list(POP_FRONT T_COMMAND program)
  if(TARGET ${program})
    set(program $<TARGET_FILE:${program}>)
  endif()
  add_test(NAME ${name} COMMAND ${velto_lane_script} run ${dir} ${program} ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED ${lane}
      RESOURCE_LOCK ${lane}
      PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9][0-9]* tests?\\."
      FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
  if(T_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
  velto_lane_may_skip(${name} ${lane})
endfunction()
