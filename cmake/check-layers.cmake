# Fails when a source file includes a header of a layer its own layer may not use.
#
#     cmake -DROOT=<source tree> [-DSTAMP=<file to touch on success>] -P cmake/check-layers.cmake
#
# Every layer is a folder and a library; a layer may include its own headers and those of the layers
# below it (the arrows of docs/architecture.md, followed downwards). The libraries are linked along the
# same arrows, but a header-only include would slip past the linker: this scan is what stops it. The
# build runs it before compiling anything.
cmake_minimum_required(VERSION 3.25)

# layer: the layers it may include from (besides itself)
set(below_base "")
set(below_text "base")
set(below_framework "base")
set(below_device "text;framework;base")
set(below_skin "text;framework;base")
set(below_report "device;text;framework;base")
set(below_res "")
set(below_ui "report;skin;device;text;framework;res;base")
set(below_app "ui;report;skin;device;text;framework;res;base")
set(below_service "text;base")
set(layers base text framework device skin report res ui app service)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check-layers.cmake")
endif()

set(wrong "")
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE sources LIST_DIRECTORIES false "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.cpp"
       "${ROOT}/${layer}/*.def" "${ROOT}/${layer}/*.rc")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^/\"]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^/\"]+)/.*" "\\1" target "${line}")
      if(target STREQUAL layer OR NOT target IN_LIST layers)
        continue()
      endif()
      if(NOT target IN_LIST below_${layer})
        file(RELATIVE_PATH shown "${ROOT}" "${source}")
        string(STRIP "${line}" line)
        list(APPEND wrong "  ${shown}: ${line} (${layer} may not use ${target})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(wrong)
  list(JOIN wrong "\n" text)
  message(FATAL_ERROR "includes across the layers' arrows:\n${text}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
