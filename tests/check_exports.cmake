# Checks the dynamic symbol table of the shared library: exactly the seven
# entry points, unmangled.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(found)
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
    list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected CreateCustomPresetFactory CreateDefaultTranscodeOutputSettings CreateMediaSource
    CreateMediaSourceEx CreateTranscodeProfile CreateTranscodeSession InitTranscodeEngine)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${found}")
