# Builds setup.exe twice, in two fresh build folders, and requires the same bytes.
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -P this file
set(toolchain ${SOURCE_DIR}/cmake/i686-w64-mingw32.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
foreach(copy first second)
  set(dir ${WORK_DIR}/${copy})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${dir}
                          -DCMAKE_TOOLCHAIN_FILE=${toolchain} -DCMAKE_BUILD_TYPE=Release
                  OUTPUT_QUIET RESULT_VARIABLE status)
  if(status EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir} --target setup -j 2
                    OUTPUT_QUIET RESULT_VARIABLE status)
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the ${copy} build failed")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/first/setup.exe
                        ${WORK_DIR}/second/setup.exe RESULT_VARIABLE different)
if(different)
  message(FATAL_ERROR "two builds of the same source gave different bytes")
endif()
file(SIZE ${WORK_DIR}/first/setup.exe size)
message(STATUS "two builds, ${size} identical bytes")
file(REMOVE_RECURSE ${WORK_DIR})
