# cmake -DTRUST=<src/update/trust.cmake> -P check_update_trust.cmake
# A build that names an update service without a vendor key is warned at configure time; one with
# a key, or without a service, is not.
function(configure_with service key out)
  execute_process(COMMAND ${CMAKE_COMMAND} -DVEXA_UPDATE_SERVICE=${service} -DVEXA_UPDATE_PUBKEY=${key} -P ${TRUST}
                  OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "configuring with service '${service}' and key '${key}' failed: ${stderr}")
  endif()
  set(${out} "${stdout}${stderr}" PARENT_SCOPE)
endfunction()

set(key 0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef)
configure_with(http://updates.example "" said)
if(NOT said MATCHES "CMake Warning" OR NOT said MATCHES "VEXA_UPDATE_PUBKEY is empty")
  message(FATAL_ERROR "a service without a key was not warned about: ${said}")
endif()
configure_with(http://updates.example ${key} said)
if(said MATCHES "Warning")
  message(FATAL_ERROR "a service with a key was warned about: ${said}")
endif()
configure_with("" "" said)
if(said MATCHES "Warning")
  message(FATAL_ERROR "a build without a service was warned about: ${said}")
endif()
