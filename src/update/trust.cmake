# A package is trusted on its vendor signature (VEXA_UPDATE_PUBKEY, package.cmake). Without a key
# the program takes any package whose SHA-1 matches, and the SHA-1 travels inside the package: it
# tells a damaged download, not a forged one. Over plain http whoever sits on the way can hand
# vexa a client package of their own, and vexa runs it. A build that names a service is told so.
# Runs in script mode too (cmake -DVEXA_UPDATE_SERVICE=… -P trust.cmake), which the tests use.
if(NOT "${VEXA_UPDATE_SERVICE}" STREQUAL "" AND "${VEXA_UPDATE_PUBKEY}" STREQUAL "")
  message(WARNING
    "VEXA_UPDATE_SERVICE names an update service (${VEXA_UPDATE_SERVICE}) but VEXA_UPDATE_PUBKEY is empty: "
    "this build will install any update package whose SHA-1 matches, and the SHA-1 comes with the package. "
    "Anyone who can change the traffic (plain http) can make it install a program of their own. "
    "Set VEXA_UPDATE_PUBKEY to the vendor's Ed25519 public key (tools/mkupdate --sign).")
endif()
