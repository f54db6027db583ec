# What every part of the update builds on: the folder layout under the application directory.
target_sources(vexa_update PRIVATE update_folders.h update_folders.cpp)
