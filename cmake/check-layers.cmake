# Fails when a source file includes a header of a layer its own layer may not use, or a library header its
# layer must not touch.
#
#     cmake -DROOT=<source tree> [-DSTAMP=<file to touch on success>] -P cmake/check-layers.cmake
#
# Every layer is a folder and a library; a layer may include its own headers and those of the layers
# below it (the arrows of docs/architecture.md, followed downwards). The libraries are linked along the
# same arrows, but a header-only include would slip past the linker: this scan is what stops it. The
# build runs it before compiling anything. A layer is the longest folder of the list a file sits in, so
# service/storage/sqlite is a layer of its own inside service/storage.
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
# The report service: the rules on text alone; storage and pages on the rules; the HTTP layer on nothing of
# the service; the application on all of them.
set(service_all "service/domain;service/storage;service/storage/sqlite;service/storage/postgres;service/http")
list(APPEND service_all "service/pages;service/app")
set(below_service/domain "text;base")
set(below_service/storage "service/storage/sqlite;service/storage/postgres;service/domain;text;base")
set(below_service/storage/sqlite "service/storage;service/domain;text;base")
set(below_service/storage/postgres "service/storage;service/domain;text;base")
set(below_service/pages "service/domain;text;base")
set(below_service/http "base")
set(below_service/app "${service_all};text;base")
set(below_service/bench "${service_all};text;base")
set(layers base text framework device skin report res ui app ${service_all} service/bench)

# layer: library headers (<…> includes, as regular expressions) it must not include. The rules and the
# pages do no I/O of their own; each backend talks to its own database only; the HTTP layer to no database.
set(db_and_net "^sqlite3\\.h$;^libpq-fe\\.h$;^boost/beast;^boost/asio")
set(banned_service/domain "${db_and_net}")
set(banned_service/pages "${db_and_net}")
set(banned_service/storage "^boost/beast;^boost/asio")
set(banned_service/storage/sqlite "^libpq-fe\\.h$;^boost/beast;^boost/asio")
set(banned_service/storage/postgres "^sqlite3\\.h$;^boost/beast;^boost/asio")
set(banned_service/http "^sqlite3\\.h$;^libpq-fe\\.h$")

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check-layers.cmake")
endif()

# The layer a path inside the tree (or an include's path) belongs to: the longest layer it starts with.
function(layer_of path out)
  set(found "")
  foreach(layer IN LISTS layers)
    string(LENGTH "${layer}" n)
    string(LENGTH "${found}" best)
    string(FIND "${path}/" "${layer}/" at)
    if(at EQUAL 0 AND n GREATER best)
      set(found "${layer}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(wrong "")
set(sources "")
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${ROOT}" "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.cpp"
       "${ROOT}/${layer}/*.def" "${ROOT}/${layer}/*.rc")
  list(APPEND sources ${found})
endforeach()
list(REMOVE_DUPLICATES sources)
foreach(shown IN LISTS sources)
  get_filename_component(folder "${shown}" DIRECTORY)
  layer_of("${folder}" layer)
  if(layer STREQUAL "")
    continue()
  endif()
  file(STRINGS "${ROOT}/${shown}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS includes)
    string(STRIP "${line}" line)
    if(line MATCHES "^#[ \t]*include[ \t]*\"([^\"]+)\"")
      get_filename_component(dir "${CMAKE_MATCH_1}" DIRECTORY)
      if(dir STREQUAL "")
        continue()
      endif()
      layer_of("${dir}" target)
      if(target STREQUAL "" OR target STREQUAL layer)
        continue()
      endif()
      if(NOT target IN_LIST below_${layer})
        list(APPEND wrong "  ${shown}: ${line} (${layer} may not use ${target})")
      endif()
    elseif(line MATCHES "^#[ \t]*include[ \t]*<([^>]+)>")
      set(header "${CMAKE_MATCH_1}")
      foreach(banned IN LISTS banned_${layer})
        if(header MATCHES "${banned}")
          list(APPEND wrong "  ${shown}: ${line} (${layer} may not use ${header})")
        endif()
      endforeach()
    endif()
  endforeach()
endforeach()

if(wrong)
  list(JOIN wrong "\n" text)
  message(FATAL_ERROR "includes across the layers' arrows:\n${text}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
