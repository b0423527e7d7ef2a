# Install rules: lay the importable package tree out under the install prefix
# (for a wheel built through pyproject.toml, the prefix is the wheel's root).
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
  "Also install the stand-in peer modules and kora_ui.core (the real package ships its own)" OFF)
set(KORA_INSTALL_PYDIR "." CACHE STRING
  "Directory, relative to the install prefix, that receives the kora_ui package tree")

set(_kora_dest "${KORA_INSTALL_PYDIR}")

# The two modules, with their stubs and typing markers.
install(TARGETS kora_raylib LIBRARY DESTINATION "${_kora_dest}/kora_ui/fast/raylib")
install(TARGETS koracache LIBRARY DESTINATION "${_kora_dest}/kora_ui/fast/koracache")
install(FILES
  "${CMAKE_SOURCE_DIR}/src/kora_ui/fast/raylib/kora_raylib.pyi"
  "${CMAKE_SOURCE_DIR}/src/kora_ui/fast/raylib/py.typed"
  DESTINATION "${_kora_dest}/kora_ui/fast/raylib")
install(FILES
  "${CMAKE_SOURCE_DIR}/src/kora_ui/fast/koracache/koracache.pyi"
  "${CMAKE_SOURCE_DIR}/src/kora_ui/fast/koracache/py.typed"
  DESTINATION "${_kora_dest}/kora_ui/fast/koracache")

# Python sources. Those of kora_ui.core and of the peer packages belong to the
# stand-ins.
set(_kora_standin_py "^kora_ui/(core/|fast/(krvector2|krshader|krrect|krrendertex)/)")
file(GLOB_RECURSE _kora_py RELATIVE "${CMAKE_SOURCE_DIR}/src" "${CMAKE_SOURCE_DIR}/src/*.py")
foreach(_f IN LISTS _kora_py)
  if(_f MATCHES "${_kora_standin_py}" AND NOT KORA_INSTALL_STANDINS)
    continue()
  endif()
  get_filename_component(_dir "${_f}" DIRECTORY)
  install(FILES "${CMAKE_SOURCE_DIR}/src/${_f}" DESTINATION "${_kora_dest}/${_dir}")
endforeach()

if(KORA_INSTALL_STANDINS)
  install(TARGETS kora_peer_krvector2 LIBRARY DESTINATION "${_kora_dest}/kora_ui/fast/krvector2")
  install(TARGETS kora_peer_krshader LIBRARY DESTINATION "${_kora_dest}/kora_ui/fast/krshader")
  install(TARGETS kora_peer_krrect LIBRARY DESTINATION "${_kora_dest}/kora_ui/fast/krrect")
  install(TARGETS kora_peer_krrendertex LIBRARY DESTINATION "${_kora_dest}/kora_ui/fast/krrendertex")
endif()
