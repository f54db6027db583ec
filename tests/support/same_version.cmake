# cmake -DVEXA=<program> -DCONF=<shipped conf.xml> -P same_version.cmake: the program's --version
# answer and the settings file shipped beside it name one version.
execute_process(COMMAND ${VEXA} --version OUTPUT_VARIABLE said RESULT_VARIABLE status)
file(READ ${CONF} conf)
if(NOT conf MATCHES "<client [^>]*version=\"([^\"]*)\"")
  message(FATAL_ERROR "${CONF} records no version")
endif()
set(shipped ${CMAKE_MATCH_1})
if(NOT status EQUAL 0 OR NOT said STREQUAL "vexa ${shipped}\n")
  message(FATAL_ERROR "vexa --version said \"${said}\" (exit ${status}); the shipped settings record ${shipped}")
endif()
