# cmake -DVYR_SOURCE_DIR=<repo> -DVYR_LAYERS=<a,b,...> -P CheckLayerIncludes.cmake
#
# Fails when a file of one layer includes a header of a layer listed after it, or of a
# folder under src/ that is no layer at all. Only includes written "layer/...", the form
# every cross-layer include takes, are looked at.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" layers "${VYR_LAYERS}")
set(violations "")

file(GLOB folders LIST_DIRECTORIES true RELATIVE ${VYR_SOURCE_DIR}/src ${VYR_SOURCE_DIR}/src/*)
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY ${VYR_SOURCE_DIR}/src/${folder} AND NOT folder IN_LIST layers)
    list(APPEND violations "src/${folder} is not in the layer list")
  endif()
endforeach()

foreach(layer IN LISTS layers)
  list(FIND layers ${layer} rank)
  file(GLOB_RECURSE sources RELATIVE ${VYR_SOURCE_DIR} ${VYR_SOURCE_DIR}/src/${layer}/*)
  foreach(source IN LISTS sources)
    file(STRINGS ${VYR_SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][A-Za-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([A-Za-z_]+)/.*$" "\\1" target "${line}")
      list(FIND layers ${target} targetRank)
      if(targetRank GREATER rank OR (targetRank EQUAL -1 AND IS_DIRECTORY ${VYR_SOURCE_DIR}/src/${target}))
        string(STRIP "${line}" line)
        list(APPEND violations "${source}: ${line} (${layer} is below ${target})")
      endif()
    endforeach()
  endforeach()
endforeach()

list(JOIN layers " < " order)
if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Layers ${order}; out of order:\n  ${text}")
endif()
message(STATUS "Layers ${order}: every include points down or sideways")
