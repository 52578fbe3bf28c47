# vesperon_add_test(NAME <target> LABELS <label>... SOURCES <file>... LIBS <lib>...
#                   [ENV NAME=VALUE...] [OWN_MAIN] [TIMEOUT <seconds>])
# One GoogleTest executable; every test in it is registered with CTest under the given labels
# (unit, gui, conformance, e2e; stress for the long concurrency runs). OWN_MAIN: the sources
# bring their own main() (a Qt test creating its QApplication), otherwise gtest_main is linked.
find_package(GTest REQUIRED)
include(GoogleTest)

function(vesperon_add_test)
  cmake_parse_arguments(T "OWN_MAIN" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  if(NOT T_OWN_MAIN)
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${T_NAME} PRIVATE
    VESPERON_VECTORS_DIR="${VESPERON_VECTORS_DIR}"
    VESPERON_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VESPERON_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set(props LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
  if(T_ENV)
    list(APPEND props ENVIRONMENT "${T_ENV}")
  endif()
  gtest_discover_tests(${T_NAME} PROPERTIES ${props} DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE PRE_TEST)
endfunction()
