# Static checks that CTest runs: cmake -DCHECK=format|tidy -DSOURCE_DIR=... -DBUILD_DIR=... -P this file.
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/installer/*.cpp ${SOURCE_DIR}/installer/*.h ${SOURCE_DIR}/platform/*.cpp
     ${SOURCE_DIR}/platform/*.h ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h)

if(CHECK STREQUAL "format")
  set(command clang-format --dry-run --Werror ${sources})
elseif(CHECK STREQUAL "tidy")
  # The update's own logic, as the host build compiles it; the Windows layer and
  # the tests are left to the compilers' warnings.
  list(FILTER sources INCLUDE REGEX "^installer/.*\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "win_main\\.cpp$")
  set(command clang-tidy -p ${BUILD_DIR} --quiet ${sources})
else()
  message(FATAL_ERROR "CHECK must be format or tidy")
endif()

execute_process(COMMAND ${command} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${CHECK} check failed")
endif()
