# Helpers shared by every folder of the build.

# Adds every direct sub-folder of ROOT that has a CMakeLists.txt, recursing into
# folders that only group others (tests/tools/..., for instance).
function(kt_add_subdirs root)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/${root}
       ${CMAKE_CURRENT_SOURCE_DIR}/${root}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    set(path ${root}/${child})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${path})
      if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${path}/CMakeLists.txt)
        add_subdirectory(${path})
      else()
        kt_add_subdirs(${path})
      endif()
    endif()
  endforeach()
endfunction()

# One naming scheme for tests: the test of a unit lives in tst_<unit>.cpp and is the CTest
# test and executable tst_<unit>; a fuzz target fuzz_<unit>.cpp is the executable fuzz_<unit>.
# A name that does not follow it stops the configuration, so the scheme cannot drift.
function(kt_check_test_name name prefix sources)
  if(NOT name MATCHES "^${prefix}_[a-z0-9_]+$" OR NOT "${name}.cpp" IN_LIST sources)
    message(FATAL_ERROR "${name}: expected the name ${prefix}_<unit> built from ${prefix}_<unit>.cpp")
  endif()
endfunction()

# kt_add_qtest(NAME <name> SOURCES <files...> LIBS <targets...>
#              [LABELS <labels...>] [GUI] [SLOW] [NEEDS <programs...>] [TIMEOUT <seconds>])
# A QtTest executable registered with CTest. Tests run with the offscreen
# platform and a private configuration folder, never the user's own, and include
# the test kit as "support/...".
# Every test is labelled "unit" or "slow": a unit test starts no process and opens
# no pseudo-terminal, and all of them together run in seconds (ctest -L unit); a
# test that does either is marked SLOW. NEEDS names the programs a test starts
# (kt580-sim, kt580-query...), built before it.
# A test labelled "tsan" is also built and run under ThreadSanitizer; it must
# not need the widget libraries. A GUI test is left out of KT_NO_GUI builds.
function(kt_add_qtest)
  cmake_parse_arguments(T "GUI;SLOW" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;NEEDS" ${ARGN})
  kt_check_test_name(${T_NAME} tst "${T_SOURCES}")
  if(T_GUI AND KT_NO_GUI)
    return()
  endif()
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(KT_FUZZ)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt6::Test)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  foreach(program IN LISTS T_NEEDS)
    if(TARGET ${program})
      add_dependencies(${T_NAME} ${program})
    endif()
  endforeach()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(T_SLOW OR T_NEEDS)
    list(APPEND T_LABELS slow)
  else()
    list(APPEND T_LABELS unit)
  endif()
  set(cfg ${CMAKE_BINARY_DIR}/test-config/${T_NAME})
  file(MAKE_DIRECTORY ${cfg})
  # The write journal and the backups go to the data folder: never the user's own either.
  set(data ${CMAKE_BINARY_DIR}/test-data/${T_NAME})
  file(MAKE_DIRECTORY ${data})
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${cfg};XDG_DATA_HOME=${data};KT_BIN_DIR=${CMAKE_BINARY_DIR};KT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# kt_add_fuzzer(NAME <name> SOURCES <files...> LIBS <targets...>)
# A libFuzzer target; exists only in KT_FUZZ builds. .ci/run runs each one for
# a bounded time.
function(kt_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  kt_check_test_name(${F_NAME} fuzz "${F_SOURCES}")
  if(NOT KT_FUZZ)
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set_property(GLOBAL APPEND PROPERTY KT_FUZZERS ${F_NAME})
  if(NOT TARGET kt_fuzzers)
    add_custom_target(kt_fuzzers)
  endif()
  add_dependencies(kt_fuzzers ${F_NAME})
endfunction()

# kt_add_bench(NAME <name> SOURCES <files...> LIBS <targets...>)
# A benchmark that prints its figures; never part of the tests.
function(kt_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT KT_BENCH OR KT_FUZZ)
    return()
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS})
  set_property(GLOBAL APPEND PROPERTY KT_BENCHES ${B_NAME})
endfunction()
