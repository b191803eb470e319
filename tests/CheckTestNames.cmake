# Fails when a CTest name of the build in BUILD_DIR is not stable and readable, so that
# `ctest -R`, `--rerun-failed` and CTest's timing history keep working:
#   - no bytes of a parameter ("16-byte object <60-F9 ...>", a "# GetParam() = ..." remark),
#     which change at every link;
#   - no parameterised case named by its index alone ("Suite.Case/3"): its suite needs a name
#     generator.
# Run by CTest (test ctest_names_are_stable_and_readable):
#   cmake -DCTEST=<ctest> -DBUILD_DIR=<dir> -P CheckTestNames.cmake
execute_process(COMMAND ${CTEST} -N --test-dir ${BUILD_DIR}
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ctest -N failed (${status}): ${errors}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(bad "")
set(count 0)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^ *Test +#[0-9]+: (.*)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  math(EXPR count "${count} + 1")
  if(name MATCHES "-byte object" OR name MATCHES "[0-9A-F][0-9A-F]-[0-9A-F][0-9A-F]"
     OR name MATCHES "#" OR name MATCHES "GetParam")
    string(APPEND bad "  parameter bytes: ${name}\n")
  elseif(name MATCHES "/[0-9]+$")
    string(APPEND bad "  named by its index alone: ${name}\n")
  endif()
endforeach()

if(count EQUAL 0)
  message(FATAL_ERROR "ctest -N listed no test in ${BUILD_DIR}")
endif()
if(bad)
  message(FATAL_ERROR "CTest names that are not stable and readable (give the suite a name "
    "generator):\n${bad}")
endif()
message(STATUS "${count} CTest names, all stable and readable")
