# The oldest libcurl the library builds against and runs with: 7.71, the
# first with CURLSSLOPT_NATIVE_CA. Anything newer is used only where
# LIBCURL_VERSION_NUM says it exists. Expects find_package(CURL) to have run:
# FindCURL sets CURL_VERSION_STRING; a CURLConfig.cmake taken directly (as
# with CMAKE_FIND_PACKAGE_PREFER_CONFIG) sets only CURL_VERSION.
set(NIMBRA_CURL_FLOOR 7.71.0)
set(_nimbra_curl_version "${CURL_VERSION_STRING}")
if(NOT _nimbra_curl_version)
  set(_nimbra_curl_version "${CURL_VERSION}")
endif()
if(NOT _nimbra_curl_version)
  message(FATAL_ERROR "Cannot tell the version of the libcurl found; Nimbra needs "
    "libcurl ${NIMBRA_CURL_FLOOR} or later (point CMAKE_PREFIX_PATH at one).")
elseif(_nimbra_curl_version VERSION_LESS NIMBRA_CURL_FLOOR)
  message(FATAL_ERROR "libcurl ${_nimbra_curl_version} found; Nimbra needs libcurl "
    "${NIMBRA_CURL_FLOOR} or later (point CMAKE_PREFIX_PATH at one).")
endif()
message(STATUS "libcurl ${_nimbra_curl_version} (Nimbra needs ${NIMBRA_CURL_FLOOR} or later)")
