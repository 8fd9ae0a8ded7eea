# cmake -DMODULE=cmake/NimbraDeployment.cmake -P DeploymentCheckTest.cmake:
# the configure step's check of the deployment values, run as a script on
# one value per row (the others good): a bad value fails, saying what is
# wrong; a good one passes.
set(rows  # variable, value, expected message ("" passes)
  "NIMBRA_BUCKET|hb|NIMBRA_BUCKET \"hb\" has 2 characters, not 3 to 63"
  "NIMBRA_BUCKET|a123456789b123456789c123456789d123456789e123456789f123456789ghij|has 64 characters"
  "NIMBRA_BUCKET|Backups|may hold only lower-case letters, digits and '-'"
  "NIMBRA_BUCKET|backups-|must begin and end with a letter or digit"
  "NIMBRA_BUCKET|a-0|"
  "NIMBRA_SERVER_URL|https://backup.example.com/|NIMBRA_SERVER_URL \"https://backup.example.com/\" must be an origin"
  "NIMBRA_SERVER_URL|https://user@backup.example.com|must be an origin"
  "NIMBRA_SERVER_URL|backup.example.com|must begin with http:// or https://"
  "NIMBRA_SERVER_URL|https://[::1]:8443|"
  "NIMBRA_ENDPOINT|ftp://oss.example.com|NIMBRA_ENDPOINT \"ftp://oss.example.com\" must begin with"
  "NIMBRA_ENDPOINT|http://127.0.0.1:0|has port 0, outside 1 to 65535"
  "NIMBRA_ENDPOINT|http://127.0.0.1:65536|has port 65536"
  "NIMBRA_ENDPOINT|HTTPS://oss-cn-hangzhou.aliyuncs.com:443|")
set(failed "")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 name)
  list(GET row 1 value)
  list(LENGTH row fields)
  set(expected "")
  if(fields GREATER 2)
    list(GET row 2 expected)
  endif()
  set(values NIMBRA_SERVER_URL=https://backup.example.com NIMBRA_ENDPOINT=http://127.0.0.1:19000
             NIMBRA_BUCKET=nimbra-backup)
  list(FILTER values EXCLUDE REGEX "^${name}=")
  list(TRANSFORM values PREPEND -D)
  execute_process(COMMAND ${CMAKE_COMMAND} ${values} "-D${name}=${value}" -P ${MODULE}
                  RESULT_VARIABLE status ERROR_VARIABLE error)
  string(FIND "${error}" "${expected}" at)
  if(expected STREQUAL "" AND NOT status EQUAL 0 OR
     NOT expected STREQUAL "" AND (status EQUAL 0 OR at LESS 0))
    string(APPEND failed "\n${name}=${value}: status ${status}, expected \"${expected}\":\n${error}")
  endif()
endforeach()
if(NOT failed STREQUAL "")
  message(FATAL_ERROR "Deployment checks that did not hold:${failed}")
endif()
