# Warnings and sanitizer flags shared by every target of the project.
add_compile_options(-Wall -Wextra)
# gold, which comes with binutils, links the programs about three times as fast as the default
# linker: there are some fifty of them in each build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_link_options(-fuse-ld=gold)
endif()

if(KESTREL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KESTREL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KESTREL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KESTREL_SANITIZE must be empty, address or thread")
endif()

# Adds a GoogleTest program to CTest. LABELS: display (needs an X server: each run gets one of
# its own, so tests can run side by side), threads (worth a ThreadSanitizer run; the thread build
# builds and runs only those). SHARDS n: CTest runs the program as n tests, each with a share of
# its cases, so that a long program does not hold up a parallel run. COST: about how many seconds
# a run (or a shard) takes, so that a parallel run starts the long ones first even before CTest
# has timed them. ENVIRONMENT: NAME=value pairs for the test's runs. Every program that CTest
# runs is also a dependency of the target kestrel_tests.
function(kestrel_add_test name)
  cmake_parse_arguments(ARG "" "SHARDS;COST" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest Threads::Threads)
  target_compile_definitions(${name} PRIVATE KESTREL_TOOLS_DIR="${CMAKE_BINARY_DIR}/tools"
                                             KESTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(KESTREL_SANITIZE STREQUAL "thread" AND NOT "threads" IN_LIST ARG_LABELS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY KESTREL_TEST_PROGRAMS ${name})
  set(command $<TARGET_FILE:${name}>)
  if("display" IN_LIST ARG_LABELS)
    set(command ${CMAKE_SOURCE_DIR}/scripts/headless.sh ${command})
  endif()
  if(NOT ARG_COST)
    set(ARG_COST 0)
  endif()
  if(NOT ARG_SHARDS)
    add_test(NAME ${name} COMMAND ${command})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600 COST ${ARG_COST})
    if(ARG_ENVIRONMENT)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
    return()
  endif()
  math(EXPR last "${ARG_SHARDS} - 1")
  foreach(shard RANGE ${last})
    add_test(NAME ${name}_${shard} COMMAND ${command})
    set_tests_properties(${name}_${shard} PROPERTIES
      LABELS "${ARG_LABELS}" TIMEOUT 600 COST ${ARG_COST}
      ENVIRONMENT "${ARG_ENVIRONMENT};GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${shard}")
  endforeach()
endfunction()

# The test programs CTest runs and, through their own dependencies, the programs they start:
# what a sanitizer build needs to build. Called once every test is added.
function(kestrel_add_tests_target)
  get_property(programs GLOBAL PROPERTY KESTREL_TEST_PROGRAMS)
  add_custom_target(kestrel_tests)
  add_dependencies(kestrel_tests ${programs})
endfunction()
