# Writes the product's identity (cmake/product.cmake) as the C header that
# PLUGTRAIL_PRODUCT_HEADER names. The build includes this file; the static
# analysis, which runs before any build, runs it on its own:
#   cmake -D PLUGTRAIL_PRODUCT_HEADER=FILE -P cmake/product_header.cmake
include(${CMAKE_CURRENT_LIST_DIR}/product.cmake)
string(REPLACE "." "," PLUGTRAIL_VERSION_NUMBERS "${PLUGTRAIL_VERSION}")
string(REPLACE "\\" "\\\\" PLUGTRAIL_EVENT_SOURCE_KEY_C "${PLUGTRAIL_EVENT_SOURCE_KEY}")
string(REPLACE "\\" "\\\\" PLUGTRAIL_POLICY_KEY_C "${PLUGTRAIL_POLICY_KEY}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/../res/product.h.in ${PLUGTRAIL_PRODUCT_HEADER} @ONLY)
