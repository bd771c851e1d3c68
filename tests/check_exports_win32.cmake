# Checks the export table of the DLL, as objdump -p prints it: exactly the
# seven entry points, under their plain names (no decoration, no mangling),
# and nothing else.
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
endif()
# The table's lines look like "\t[   0] +base[   1]  0000 CreateCustomPresetFactory"
# after the heading "[Ordinal/Name Pointer] Table".
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
    message(FATAL_ERROR "no export table in ${LIBRARY}")
endif()
string(SUBSTRING "${dump}" ${start} -1 table)
string(REGEX MATCH "Table\n(\t[^\n]*\n)*" table "${table}")
string(REGEX MATCHALL "\t[^\n]+" lines "${table}")
set(found)
foreach(line IN LISTS lines)
    string(REGEX REPLACE ".* " "" name "${line}")
    list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected CreateCustomPresetFactory CreateDefaultTranscodeOutputSettings CreateMediaSource
    CreateMediaSourceEx CreateTranscodeProfile CreateTranscodeSession InitTranscodeEngine)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${found}")
