# Warnings and sanitizer flags shared by every target of the project.
add_compile_options(-Wall -Wextra)

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
# its cases, so that a long program does not hold up a parallel run. ENVIRONMENT: NAME=value
# pairs for the test's runs.
function(kestrel_add_test name)
  cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest Threads::Threads)
  target_compile_definitions(${name} PRIVATE KESTREL_TOOLS_DIR="${CMAKE_BINARY_DIR}/tools"
                                             KESTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(KESTREL_SANITIZE STREQUAL "thread" AND NOT "threads" IN_LIST ARG_LABELS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  set(command $<TARGET_FILE:${name}>)
  if("display" IN_LIST ARG_LABELS)
    set(command ${CMAKE_SOURCE_DIR}/scripts/headless.sh ${command})
  endif()
  if(NOT ARG_SHARDS)
    add_test(NAME ${name} COMMAND ${command})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
    if(ARG_ENVIRONMENT)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
    return()
  endif()
  math(EXPR last "${ARG_SHARDS} - 1")
  foreach(shard RANGE ${last})
    add_test(NAME ${name}_${shard} COMMAND ${command})
    set_tests_properties(${name}_${shard} PROPERTIES
      LABELS "${ARG_LABELS}" TIMEOUT 600
      ENVIRONMENT "${ARG_ENVIRONMENT};GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${shard}")
  endforeach()
endfunction()
