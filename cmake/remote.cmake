# Helpers every module's CMakeLists uses, so tests, benchmarks and fuzz targets
# are declared the same way everywhere.

# remote_test(name LABEL unit|peer|ui SOURCES ... LIBS ... [TIMEOUT s])
# One GoogleTest executable, run by ctest as one test.
function(remote_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(REMOTE_FUZZ)
    return()
  endif()
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "REMOTE_SOURCE_DIR=${PROJECT_SOURCE_DIR};QT_QPA_PLATFORM=offscreen")
endfunction()

# remote_bench(name SOURCES ... LIBS ...): a Google Benchmark executable, built
# by default, run by hand (make bench), never as a test.
function(remote_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  if(REMOTE_FUZZ)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()

# remote_fuzz(name SOURCES ... LIBS ... CORPUS dir [DICT file] [SECONDS n])
# A libFuzzer target, only in the fuzz build. The test runs it briefly over its
# committed corpus; new inputs go to a scratch directory in the build tree so
# the committed corpus never changes behind anyone's back.
function(remote_fuzz name)
  cmake_parse_arguments(F "" "CORPUS;DICT;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT REMOTE_FUZZ)
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(scratch ${CMAKE_CURRENT_BINARY_DIR}/${name}.scratch)
  file(MAKE_DIRECTORY ${scratch})
  set(args -max_total_time=${F_SECONDS} -rss_limit_mb=2048 -timeout=10 -print_final_stats=1)
  if(F_DICT)
    list(APPEND args -dict=${F_DICT})
  endif()
  add_test(NAME ${name} COMMAND ${name} ${args} ${scratch} ${F_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()

# Adds every listed subdirectory that exists, so modules can land one by one.
function(remote_add_modules)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
