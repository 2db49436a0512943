# Fails unless LIBRARY defines exactly the seven KES01 functions as dynamic
# symbols. Run by CTest with -DNM=<nm> -DLIBRARY=<path>.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(found "")
foreach(line ${lines})
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
    # Version nodes and sanitizer runtime hooks are not exports of the code.
    if(name MATCHES "^__(asan|ubsan|sanitizer|lsan)" OR line MATCHES " A ")
        continue()
    endif()
    list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected SHACreateContext SHADestroyContext SHAFinalize SHAGetHashString SHAGetHashValue
    SHAInitialize SHAUpdateHash)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "KES01.DLL exports [${found}], expected [${expected}]")
endif()
message(STATUS "KES01.DLL exports exactly: ${found}")
