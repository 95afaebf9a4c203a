# Checks the shipped library: it defines exactly the two hooks as its exports,
# and it does not depend on the mail component.
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE " .*" "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
if(NOT names STREQUAL "UninstInitialize;UninstUnInitialize")
  message(FATAL_ERROR "exports of ${LIBRARY} are: ${names}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY}
  OUTPUT_VARIABLE headers RESULT_VARIABLE objdump_result)
if(NOT objdump_result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
if(headers MATCHES "NEEDED[^\n]*qpmailer")
  message(FATAL_ERROR "${LIBRARY} depends on qpmailer")
endif()
message(STATUS "exports: ${names}")
