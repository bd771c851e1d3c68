# Checks the exports of the shared library: exactly the seven entry points,
# under their plain names (no mangling, no decoration), and nothing else.
# With OBJDUMP (a DLL), the export table as objdump -p prints it; otherwise
# the dynamic symbol table as nm -D prints it.
set(found)
if(OBJDUMP)
    execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
    endif()
    # After the heading "[Ordinal/Name Pointer] Table", lines such as
    # "\t[   0] CreateCustomPresetFactory".
    string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
    if(start EQUAL -1)
        message(FATAL_ERROR "no export table in ${LIBRARY}")
    endif()
    string(SUBSTRING "${dump}" ${start} -1 table)
    string(REGEX MATCH "Table\n(\t[^\n]*\n)*" table "${table}")
    string(REGEX MATCHALL "\t[^\n]+" lines "${table}")
    set(prefix ".* ")
else()
    execute_process(COMMAND nm -D --defined-only ${LIBRARY}
        OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "nm failed on ${LIBRARY}")
    endif()
    string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
    set(prefix "^[0-9a-fA-F]* *[A-Za-z] ")
endif()
foreach(line IN LISTS lines)
    string(REGEX REPLACE "${prefix}" "" name "${line}")
    list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected CreateCustomPresetFactory CreateDefaultTranscodeOutputSettings CreateMediaSource
    CreateMediaSourceEx CreateTranscodeProfile CreateTranscodeSession InitTranscodeEngine)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${found}")
