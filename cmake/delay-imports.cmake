# Delay-loaded system DLLs: the program imports COM, OLE Automation, the shell, IP Helper, Winsock and the
# common controls only through these libraries, which load each DLL on the first call into it. An idle window
# needs none of them (only a check or the link does), and under Wine each one brings its own dependencies
# into the working set at start.
#
# An imported target named like the system library (ole32, ws2_32, ...) takes the place of -lole32 and so on
# wherever a layer links it, libcurl's ws2_32 included. Its import library is made here from the system's
# own: every function that library imports, given to dlltool as a delay-load import library.
find_program(ZORV_NM NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-nm REQUIRED)
find_program(ZORV_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool REQUIRED)
find_program(ZORV_OBJCOPY NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objcopy REQUIRED)
find_library(ZORV_SYSTEM_LIB_DIR_PROBE NAMES libkernel32.a REQUIRED)
get_filename_component(zorv_system_lib_dir ${ZORV_SYSTEM_LIB_DIR_PROBE} DIRECTORY)

# A delay-load import library from a .def file. Each function's stub in it is a jump through its slot and,
# behind it, the code that loads the DLL on the first call; the slot starts out pointing at that code. The
# 32-bit linker drops the stub of any import nobody calls by its plain name, as it may for an ordinary
# import library, and so leaves the slot of every call made through __declspec(dllimport) at 0: the first
# call jumps to address 0. The stubs are therefore marked as data, in a .text$ section that still lands in
# the program's code; the linker then keeps every stub of the functions it links, and only those.
# (tools/check-pe.sh fails a program with an import slot at 0.)
function(zorv_delay_library def out)
  execute_process(COMMAND ${ZORV_DLLTOOL} -k --input-def ${def} --output-delaylib ${out} COMMAND_ERROR_IS_FATAL ANY)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    execute_process(COMMAND ${ZORV_OBJCOPY} --rename-section ".text=.text$delay,contents,alloc,load,readonly,data"
                            ${out} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endfunction()

function(zorv_delay_import name dll)
  set(system_lib ${zorv_system_lib_dir}/lib${name}.a)
  set(out ${delay_dir}/lib${name}_delay.a)
  if(NOT EXISTS ${out} OR ${system_lib} IS_NEWER_THAN ${out} OR ${CMAKE_CURRENT_FUNCTION_LIST_FILE} IS_NEWER_THAN ${out})
    execute_process(COMMAND ${ZORV_NM} -g --defined-only ${system_lib} OUTPUT_VARIABLE symbols
                    COMMAND_ERROR_IS_FATAL ANY)
    # "00000000 I __imp__socket@12" (32-bit, stdcall decorated) or "... I __imp_socket" (64-bit).
    string(REGEX MATCHALL "[0-9a-fA-F]+ I __imp_[^\n]+" rows "${symbols}")
    set(exports "")
    foreach(row IN LISTS rows)
      string(REGEX REPLACE "^[0-9a-fA-F]+ I __imp_" "" symbol "${row}")
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(SUBSTRING "${symbol}" 1 -1 symbol)  # the C name's underscore (REGEX REPLACE "^_" takes them all)
        # dlltool drops a leading underscore of its own (__WSAFDIsSet@8 would become _WSAFDIsSet@8) unless
        # the export's name is given after "==".
        if(symbol MATCHES "^(_[^@]*)@[0-9]+$")
          set(symbol "${symbol} == ${CMAKE_MATCH_1}")
        endif()
      endif()
      list(APPEND exports "${symbol}")
    endforeach()
    list(REMOVE_DUPLICATES exports)
    list(JOIN exports "\n" lines)
    file(WRITE ${delay_dir}/${name}.def "LIBRARY ${dll}\nEXPORTS\n${lines}\n")
    zorv_delay_library(${delay_dir}/${name}.def ${out})
  endif()
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${out})
endfunction()

zorv_delay_import(ole32 ole32.dll)
zorv_delay_import(oleaut32 oleaut32.dll)
zorv_delay_import(shell32 shell32.dll)
zorv_delay_import(iphlpapi iphlpapi.dll)
zorv_delay_import(ws2_32 ws2_32.dll)
# Nothing of the program calls it; a library that does loads it then.
zorv_delay_import(comctl32 comctl32.dll)
