# Install rules: lay the importable package tree out under the install prefix
# (for a wheel built through pyproject.toml, the prefix is the wheel's root),
# and put the type stubs and typing markers into the build tree beside the
# modules, so that the build tree type-checks like an installed one.
#
# This file is read twice in a pip build:
#  - pyproject.toml names it as CMAKE_PROJECT_INCLUDE, so it runs right after
#    project(), before the root list checks KORA_PYTHON: that pass only takes
#    the interpreter the build frontend runs (Python_EXECUTABLE, put in the
#    cache by the build backend) as KORA_PYTHON when none was given;
#  - the root CMakeLists.txt includes it at the end: that pass adds the rules.
# A plain CMake build only sees the second pass.

if(NOT COMMAND kora_extension)
  if(NOT KORA_PYTHON AND Python_EXECUTABLE)
    set(KORA_PYTHON "${Python_EXECUTABLE}" CACHE FILEPATH "Python 3.15 interpreter the modules are built for")
  endif()
  return()
endif()

option(KORA_INSTALL_STANDINS
  "Also install the stand-ins of the package's files (kora_ui and kora_ui.fast __init__.py, kora_ui.core, peers)" OFF)
option(KORA_STATIC_CXX_RUNTIME
  "Link the C++ runtime statically into the modules (wheel builds: no dependency on the system's libstdc++)" OFF)
set(KORA_INSTALL_PYDIR "." CACHE STRING
  "Directory, relative to the install prefix, that receives the kora_ui package tree")

set(_kora_dest "${KORA_INSTALL_PYDIR}")
set(_kora_src "${CMAKE_SOURCE_DIR}/src")

# This project's own files are the two module packages; every other file
# under src/kora_ui stands in for one of the package's (the real package
# ships its own, and a wheel holding them would overwrite them).
set(_kora_own "^kora_ui/fast/(raylib|koracache)/")
set(_kora_own_targets kora_raylib koracache)
set(_kora_standin_targets kora_peer_krvector2 kora_peer_krshader kora_peer_krrect kora_peer_krrendertex)

file(GLOB_RECURSE _kora_typing RELATIVE "${_kora_src}" "${_kora_src}/*.pyi" "${_kora_src}/py.typed")
foreach(_f IN LISTS _kora_typing)
  configure_file("${_kora_src}/${_f}" "${KORA_PY_OUT}/${_f}" COPYONLY)
endforeach()

file(GLOB_RECURSE _kora_py RELATIVE "${_kora_src}" "${_kora_src}/*.py")
foreach(_f IN LISTS _kora_py _kora_typing)
  if(NOT _f MATCHES "${_kora_own}" AND NOT KORA_INSTALL_STANDINS)
    continue()
  endif()
  get_filename_component(_dir "${_f}" DIRECTORY)
  install(FILES "${_kora_src}/${_f}" DESTINATION "${_kora_dest}/${_dir}")
endforeach()

# Each module goes to the directory its build output is written to.
set(_kora_targets ${_kora_own_targets})
if(KORA_INSTALL_STANDINS)
  list(APPEND _kora_targets ${_kora_standin_targets})
endif()
foreach(_t IN LISTS _kora_targets)
  get_target_property(_out ${_t} LIBRARY_OUTPUT_DIRECTORY)
  file(RELATIVE_PATH _dir "${KORA_PY_OUT}" "${_out}")
  install(TARGETS ${_t} LIBRARY DESTINATION "${_kora_dest}/${_dir}")
endforeach()

# A wheel meant for other systems carries its C++ runtime: the system's
# libstdc++ symbol versions would otherwise set the oldest glibc/manylinux
# level the wheel can claim. The runtime's symbols stay local to each module
# (--exclude-libs), so modules built with another C++ runtime in the same
# process never bind to them; glibc_compat.cpp stands in for the few glibc
# symbols newer than 2.17 that the static runtime refers to. libgcc_s (the
# unwinder) stays shared: every manylinux system has it.
if(KORA_STATIC_CXX_RUNTIME)
  foreach(_t IN LISTS _kora_own_targets _kora_standin_targets)
    target_sources(${_t} PRIVATE "${CMAKE_SOURCE_DIR}/cmake/glibc_compat.cpp")
    target_link_options(${_t} PRIVATE -static-libstdc++ -Wl,--exclude-libs,ALL)
  endforeach()
endif()
