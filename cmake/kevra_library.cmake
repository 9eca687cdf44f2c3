# kevra_library(<target> <folder> <dependencies>...)
# Builds every .cpp directly in <folder> (main.cpp excepted) into one static
# library; a folder with headers only becomes an interface library. The
# project root is on the include path, so headers are included by their folder:
# #include "common/hx_logger.h".
function(kevra_library target folder)
  file(GLOB sources CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/${folder}/*.cpp
    ${PROJECT_SOURCE_DIR}/${folder}/3rdparty/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARGN})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARGN})
  endif()
endfunction()

# kevra_test(<target> <folder> <dependencies>...)
# One GoogleTest program from every .cpp in tests/<folder>, registered in CTest;
# its temporary files go to KEVRA_TEST_TMPDIR, which must be empty after the run.
function(kevra_test target folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${target} ${sources})
  if(KEVRA_TEST_MAIN)
    target_link_libraries(${target} PRIVATE ${ARGN} kevra_test_support ${KEVRA_TEST_MAIN})
  else()
    target_link_libraries(${target} PRIVATE ${ARGN} kevra_test_support GTest::gtest_main)
  endif()
  gtest_discover_tests(${target}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    DISCOVERY_TIMEOUT 60
    # One value per property: gtest_discover_tests splits a value at ";".
    PROPERTIES ENVIRONMENT "KEVRA_BUILD_DIR=${PROJECT_BINARY_DIR}"
      ENVIRONMENT_MODIFICATION "TMPDIR=set:${KEVRA_TEST_TMPDIR}"
      FIXTURES_REQUIRED test_tmp)
endfunction()

# kevra_sandbox_test(<target> <folder> <dependencies>...)
# Like kevra_test, but each test case starts itself again through
# tests/platform/sandbox, so it sees the stand-ins at the platform's paths and a fresh /opt/kelvomar.
function(kevra_sandbox_test target folder)
  set(KEVRA_TEST_MAIN kevra_test_sandbox_main)
  kevra_test(${target} ${folder} ${ARGN})
  if(TARGET ${target})
    add_dependencies(${target} kevra_template)
  endif()
endfunction()
