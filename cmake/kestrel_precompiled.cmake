# Most of each file's compile time goes into the same toolkit, OpenCV and standard headers. They
# are compiled once per build into a precompiled header that the project's libraries and programs
# reuse, and once more, with GoogleTest, for the tests.
set(kestrel_precompiled_headers
    <algorithm> <atomic> <chrono> <filesystem> <functional> <map> <memory> <mutex> <optional>
    <string> <thread> <vector>
    <opencv2/core.hpp> <opencv2/imgproc.hpp>
    <wx/wx.h>)

# A target whose only job is to hold a precompiled header of `headers`; its one source is empty.
# It is compiled with the flags of the folder it is made in, which its users must share.
function(kestrel_add_precompiled_host name)
  set(source ${CMAKE_BINARY_DIR}/${name}.cpp)
  if(NOT EXISTS ${source})
    file(WRITE ${source} "")
  endif()
  add_library(${name} STATIC ${source})
  target_include_directories(${name} PRIVATE ${OpenCV_INCLUDE_DIRS})
  target_precompile_headers(${name} PRIVATE ${ARGN})
endfunction()

# True when `target` links the toolkit, itself or through one of the project's libraries: the
# precompiled header's inline code needs it.
function(kestrel_links_toolkit target result)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  set(${result} FALSE PARENT_SCOPE)
  foreach(library ${libraries})
    if(library IN_LIST wxWidgets_LIBRARIES
       OR (library MATCHES "^kestrel_" AND NOT library STREQUAL "kestrel_position_codec"))
      set(${result} TRUE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# Gives every C++ target made under `dir` that links the toolkit the precompiled header of
# `host`. A folder that builds with flags of its own sets its KESTREL_OWN_FLAGS property and is
# left as it is.
function(kestrel_use_precompiled_headers dir host)
  get_property(own_flags DIRECTORY ${dir} PROPERTY KESTREL_OWN_FLAGS)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(own_flags OR target STREQUAL host OR NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    kestrel_links_toolkit(${target} toolkit)
    if(NOT toolkit)
      continue()
    endif()
    target_include_directories(${target} SYSTEM PRIVATE ${OpenCV_INCLUDE_DIRS})
    target_precompile_headers(${target} REUSE_FROM ${host})
    # A header the compiler cannot use (a definition or flag that differs from its host's) would
    # only slow the build down, silently: make it an error instead.
    target_compile_options(${target} PRIVATE -Werror=invalid-pch)
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    kestrel_use_precompiled_headers(${subdir} ${host})
  endforeach()
endfunction()
