# Writes a bundle's Info.plist from the template:
#   cmake -DTEMPLATE=… -DOUTPUT=… -DMORVANE_VERSION=… [-DMORVANE_APP_IDENTIFIER=…] -P info-plist.cmake
if(NOT MORVANE_APP_IDENTIFIER)
  include("${CMAKE_CURRENT_LIST_DIR}/../cmake/identity.cmake")
endif()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
