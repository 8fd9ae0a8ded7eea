// Classification of libcurl results into the layer's failure codes.
#ifndef CONTRACTS_OSS_AOS_CURL_CODE_H
#define CONTRACTS_OSS_AOS_CURL_CODE_H

#include <curl/curl.h>

// The aos_error_code_e for a failed transfer: name lookup, connection
// (refused, reset, closed early), timeout, TLS verification, local body
// read/write, ... Anything unlisted is AOSE_INTERNAL_ERROR; CURLE_OK is
// AOSE_OK.
int aos_curl_code_to_status(CURLcode code);

#endif  // CONTRACTS_OSS_AOS_CURL_CODE_H
