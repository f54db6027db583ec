# The vendor service's address: VEXA_UPDATE_SERVICE in the environment at run time, else this
# setting. Empty means no update checks unless the environment names a service.
set(VEXA_UPDATE_SERVICE "" CACHE STRING "Address of the vendor update service (http(s)://host[:port]); empty for none")
target_sources(vexa_update PRIVATE update_service.h update_service.cpp)
# Only the one file that reads it rebuilds when the setting changes.
set_property(SOURCE update_service.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "VEXA_UPDATE_SERVICE_DEFAULT=\"${VEXA_UPDATE_SERVICE}\"")
