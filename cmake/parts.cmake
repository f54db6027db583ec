# A folder whose contents grow part by part keeps each part's registrations in a fragment of its
# own (<part>.cmake) beside its CMakeLists.txt; this includes them, in name order. A macro, so
# that each fragment runs in the including folder's scope. Scripts that tests run (check_*.cmake)
# are no parts.
macro(vexa_include_parts)
  file(GLOB _vexa_parts ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake)
  list(FILTER _vexa_parts EXCLUDE REGEX "/check_[^/]*\\.cmake$")
  list(SORT _vexa_parts)
  foreach(_vexa_part ${_vexa_parts})
    include(${_vexa_part})
  endforeach()
endmacro()
