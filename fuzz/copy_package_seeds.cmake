# Copies the small model files of Debian's assimp-testmodels into a seed
# folder for fuzz_model3ds's assimp path, at build time, so that no copy of
# another project's files is committed here:
#   cmake -DMODELS=/usr/share/assimp/models -DOUT=folder -DMAX_BYTES=16384 -P copy_package_seeds.cmake
# Each file keeps its path below MODELS in its name (folders joined by '-'),
# so files of the same name in different folders stay apart. A missing
# MODELS folder leaves OUT empty.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
if(NOT IS_DIRECTORY "${MODELS}")
  message(STATUS "${MODELS} not found (package assimp-testmodels): no package seeds")
  return()
endif()
set(patterns)
foreach(ext obj gltf glb ply stl dae x fbx md2 ms3d off)
  string(TOUPPER ${ext} upper)
  list(APPEND patterns "${MODELS}/*.${ext}" "${MODELS}/*.${upper}")
endforeach()
file(GLOB_RECURSE files LIST_DIRECTORIES false ${patterns})
set(count 0)
foreach(path IN LISTS files)
  file(SIZE "${path}" bytes)
  if(bytes GREATER MAX_BYTES OR bytes EQUAL 0)
    continue()
  endif()
  file(RELATIVE_PATH relative "${MODELS}" "${path}")
  string(REGEX REPLACE "[/ ]" "-" flat "${relative}")
  configure_file("${path}" "${OUT}/${flat}" COPYONLY)
  math(EXPR count "${count} + 1")
endforeach()
message(STATUS "${count} package seeds in ${OUT}")
