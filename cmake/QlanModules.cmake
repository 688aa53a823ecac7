# Source selection shared by every module: portable files always, and the one file per
# seam that matches the platform being built (*_win32.cpp or *_posix.cpp).
function(qlan_platform_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(kept)
  foreach(f IN LISTS all)
    if(WIN32 AND f MATCHES "_posix\\.cpp$")
      continue()
    endif()
    if(NOT WIN32 AND f MATCHES "_win32\\.cpp$")
      continue()
    endif()
    list(APPEND kept ${f})
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

function(qlan_warnings target)
  target_compile_options(${target} PRIVATE ${QLAN_WARNINGS})
endfunction()

# A unit test executable per source folder: tests/unit/<name>/*_test.cpp.
# Natively every case is its own ctest entry; under Wine one entry per executable,
# since each Wine process costs a fraction of a second.
function(qlan_unit_tests name)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*_test.cpp)
  qlan_platform_sources(extra ${CMAKE_CURRENT_SOURCE_DIR}/${name}/support)
  if(NOT srcs)
    return()
  endif()
  add_executable(unit_${name} ${srcs} ${extra})
  target_link_libraries(unit_${name} PRIVATE ${A_LIBS} qlan_testsupport GTest::gtest_main)
  qlan_warnings(unit_${name})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME unit_${name} COMMAND unit_${name})
  else()
    # Suites whose name ends in Slow (floods, kills, the front under load) are labelled slow:
    # scripts/check runs them, scripts/test leaves them out.
    gtest_discover_tests(unit_${name} DISCOVERY_TIMEOUT 30 TEST_FILTER -*Slow.*
                         PROPERTIES LABELS unit)
    gtest_discover_tests(unit_${name} DISCOVERY_TIMEOUT 30 TEST_FILTER *Slow.*
                         PROPERTIES LABELS slow TIMEOUT 180)
  endif()
endfunction()
