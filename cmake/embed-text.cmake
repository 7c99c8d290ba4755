# Writes a text file as a C++ raw string literal, for a source that includes it:
#     cmake -DIN=<file> -DOUT=<file.inc> -P cmake/embed-text.cmake
# so a schema can live in a .sql file of its own and still be compiled into the program.
file(READ "${IN}" text)
string(FIND "${text}" ")embedded\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the literal's end marker")
endif()
file(WRITE "${OUT}.tmp" "R\"embedded(${text})embedded\"\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
