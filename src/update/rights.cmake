# Whether the installer can do its work in an application folder, asked before a client update is
# offered; and the user's files, which every package installation keeps.
target_sources(vexa_update PRIVATE install_rights.h install_rights.cpp)
target_link_libraries(vexa_update PUBLIC vexa_userfiles)
set_property(SOURCE install_rights.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "VEXA_PROGRAM_NAME=\"$<TARGET_FILE_NAME:vexa>\"")
