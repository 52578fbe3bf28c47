# vesperon_add_test(NAME <target> LABELS <label>... SOURCES <file>... LIBS <lib>... [TIMEOUT <seconds>])
# One GoogleTest executable; every test in it is registered with CTest under the given labels
# (unit, gui, conformance, e2e; stress for the long concurrency runs).
find_package(GTest REQUIRED)
include(GoogleTest)

function(vesperon_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${T_NAME} PRIVATE
    VESPERON_VECTORS_DIR="${VESPERON_VECTORS_DIR}"
    VESPERON_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VESPERON_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
