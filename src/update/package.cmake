# The update package format and its reader (the downloader unpacks with it); the writer is the
# vendor's (tools/mkupdate). LZMA1 for the content, libsodium for the vendor's signature.
find_package(LibLZMA REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(VEXA_SODIUM REQUIRED IMPORTED_TARGET libsodium)

# The vendor's Ed25519 public key; a program built with one unpacks only packages it signed.
set(VEXA_UPDATE_PUBKEY "" CACHE STRING
    "Ed25519 public key (64 hex digits) that update packages must be signed with; empty: no signature check")
if(NOT VEXA_UPDATE_PUBKEY STREQUAL "" AND NOT VEXA_UPDATE_PUBKEY MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "VEXA_UPDATE_PUBKEY must be 64 hex digits, or empty")
endif()
string(LENGTH "${VEXA_UPDATE_PUBKEY}" vexa_pubkey_length)
if(NOT vexa_pubkey_length EQUAL 0 AND NOT vexa_pubkey_length EQUAL 64)
  message(FATAL_ERROR "VEXA_UPDATE_PUBKEY must be 64 hex digits, or empty")
endif()

target_sources(vexa_update PRIVATE update_package.h update_package.cpp)
target_link_libraries(vexa_update PRIVATE LibLZMA::LibLZMA PkgConfig::VEXA_SODIUM)
# Only this file sees the key, so changing it rebuilds one file.
set_property(SOURCE update_package.cpp APPEND PROPERTY COMPILE_DEFINITIONS "VEXA_UPDATE_PUBKEY=\"${VEXA_UPDATE_PUBKEY}\"")
