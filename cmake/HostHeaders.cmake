# Header-only libraries installed on the build machine (e.g. Boost.Math),
# usable by every build, the MinGW cross build included. A cross build must
# not search the host's /usr/include as a whole (its C library headers would
# shadow the target's), so each library gets a folder of its own in the
# build tree that holds only a link to its headers.
#
# host_header_library(TARGET HEADER SUBDIR [PACKAGE]): finds HEADER (e.g.
# boost/math/distributions/normal.hpp) in the host's include folders and
# makes the interface library TARGET whose include path holds SUBDIR (e.g.
# boost) and nothing else. PACKAGE names the Debian package in the error.
function(host_header_library target header subdir package)
  find_path(${target}_ROOT ${header} PATHS /usr/include /usr/local/include
    NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(NOT ${target}_ROOT)
    message(FATAL_ERROR "${header} not found: install ${package} (scripts/deps.sh does)")
  endif()
  set(folder ${PROJECT_BINARY_DIR}/host-headers/${target})
  file(MAKE_DIRECTORY ${folder})
  if(NOT EXISTS ${folder}/${subdir})
    file(CREATE_LINK ${${target}_ROOT}/${subdir} ${folder}/${subdir} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE)
  # SYSTEM: their warnings are not ours to mend.
  target_include_directories(${target} SYSTEM INTERFACE ${folder})
endfunction()
