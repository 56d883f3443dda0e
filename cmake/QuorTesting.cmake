# Test plumbing shared by the three builds.
#
# quor_add_test(<name> SOURCES ... LIBS ... [ENVIRONMENT ...] [LABELS ...])
#   builds one GoogleTest program and registers it as one ctest test. Windows programs run
#   under Wine (the 32-bit ones under the 32-bit loader) in the build tree's own prefix,
#   which the fixture "wine" creates once per build tree and starts before any of them.
option(QUOR_BUILD_TESTS "Build the test programs" ON)

# Records a Windows binary for the test that checks it imports system DLLs only.
function(quor_check_imports target)
  if(WIN32)
    set_property(GLOBAL APPEND PROPERTY QUOR_WINDOWS_BINARIES ${target})
  endif()
endfunction()


if(NOT QUOR_BUILD_TESTS)
  return()
endif()

enable_testing()

if(CMAKE_CROSSCOMPILING)
  # GoogleTest from the Debian sources, built with the cross compiler.
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # Its warnings are not ours to fix: they never fail the build.
  set(CMAKE_COMPILE_WARNING_AS_ERROR OFF)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  unset(CMAKE_COMPILE_WARNING_AS_ERROR)
  set(QUOR_GTEST_LIBS gtest gmock)
  set(QUOR_GTEST_MAIN gtest_main)
else()
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
  set(QUOR_GTEST_LIBS GTest::gtest GTest::gmock Threads::Threads)
  set(QUOR_GTEST_MAIN GTest::gtest_main)
endif()

if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(QUOR_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(QUOR_WINE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/wine.sh)
  add_test(NAME wine-start COMMAND ${QUOR_WINE_SCRIPT} start ${QUOR_WINE_PREFIX})
  add_test(NAME wine-stop COMMAND ${QUOR_WINE_SCRIPT} stop ${QUOR_WINE_PREFIX})
  set_tests_properties(wine-start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine-stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

# quor_add_wine_test(<name> <command>...)
#   registers a test that starts a Windows program of this build under Wine (natively, a
#   plain test). It needs the build tree's prefix, and where this build's loader cannot run
#   (a kernel without 32-bit support) it is reported as skipped, not failed.
function(quor_add_wine_test name)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${QUOR_WINE_SCRIPT} guard ${QUOR_WINE_PREFIX} ${QUOR_WINE_LOADER} ${ARGN})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77)
  else()
    add_test(NAME ${name} COMMAND ${ARGN})
  endif()
endfunction()

# The command that runs a Windows program of this build (empty natively).
function(quor_test_launcher out_var)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(${out_var} ${QUOR_WINE_SCRIPT} run ${QUOR_WINE_PREFIX} ${QUOR_WINE_LOADER} PARENT_SCOPE)
  else()
    set(${out_var} "" PARENT_SCOPE)
  endif()
endfunction()

function(quor_add_test name)
  cmake_parse_arguments(T "NO_MAIN" "TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;LABELS;WRAPPER;RESOURCE_LOCK;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${QUOR_GTEST_LIBS})
  if(NOT T_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${QUOR_GTEST_MAIN})
  endif()
  quor_test_launcher(launcher)
  # WRAPPER: a command that prepares the test's surroundings and then runs the rest.
  quor_add_wine_test(${name} ${T_WRAPPER} ${launcher} $<TARGET_FILE:${name}> --gtest_brief=1 ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  quor_check_imports(${name})
endfunction()

# Called once at the end of the top-level CMakeLists.
function(quor_add_import_check)
  get_property(targets GLOBAL PROPERTY QUOR_WINDOWS_BINARIES)
  if(WIN32 AND targets)
    set(files "")
    foreach(t ${targets})
      list(APPEND files $<TARGET_FILE:${t}>)
    endforeach()
    add_test(NAME imports-system-only
             COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-imports.sh ${CMAKE_OBJDUMP} ${files})
  endif()
endfunction()
