# Checks of the deployment values compiled into the library: a value the web
# API or the store would refuse fails the configure step, saying what is
# wrong, instead of every call of the library at run time. Also a script:
#   cmake -DNIMBRA_SERVER_URL=... -DNIMBRA_ENDPOINT=... -DNIMBRA_BUCKET=... \
#         -P cmake/NimbraDeployment.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_minimum_required(VERSION 3.25)  # the project's policies
endif()

# nimbra_bucket_problem(OUT NAME): OUT empty when the store accepts NAME as a
# bucket name, else what is wrong with it.
function(nimbra_bucket_problem out name)
  string(LENGTH "${name}" length)
  set(problem "")
  if(length LESS 3 OR length GREATER 63)
    set(problem "has ${length} characters, not 3 to 63")
  elseif(NOT name MATCHES "^[a-z0-9-]+$")
    set(problem "may hold only lower-case letters, digits and '-'")
  elseif(name MATCHES "^-|-$")
    set(problem "must begin and end with a letter or digit")
  endif()
  set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# nimbra_origin_problem(OUT URL): OUT empty when URL is an http or https
# origin (scheme, host and an optional port), else what is wrong with it.
function(nimbra_origin_problem out url)
  set(problem "")
  string(TOLOWER "${url}" lower)
  if(NOT lower MATCHES "^https?://")
    set(problem "must begin with http:// or https://")
  elseif(NOT lower MATCHES "^https?://([a-z0-9]([a-z0-9.-]*[a-z0-9])?|\\[[0-9a-f:.]+\\])(:([0-9]+))?$")
    set(problem "must be an origin, a host and an optional port: no user, path (not even a "
                "trailing '/'), query or fragment")
  else()
    set(port "${CMAKE_MATCH_4}")
    if(NOT port STREQUAL "" AND (port MATCHES "^0+$|^[0-9]{6,}$" OR port GREATER 65535))
      set(problem "has port ${port}, outside 1 to 65535")
    endif()
  endif()
  string(CONCAT problem ${problem})
  set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# nimbra_check_deployment(SERVER_URL ENDPOINT BUCKET): a fatal error naming
# every value that cannot work.
function(nimbra_check_deployment NIMBRA_SERVER_URL NIMBRA_ENDPOINT NIMBRA_BUCKET)
  set(problems "")
  foreach(name NIMBRA_SERVER_URL NIMBRA_ENDPOINT NIMBRA_BUCKET)
    if(name STREQUAL "NIMBRA_BUCKET")
      nimbra_bucket_problem(problem "${${name}}")
    else()
      nimbra_origin_problem(problem "${${name}}")
    endif()
    if(NOT problem STREQUAL "")
      string(APPEND problems "\n  ${name} \"${${name}}\" ${problem}")
    endif()
  endforeach()
  if(NOT problems STREQUAL "")
    message(FATAL_ERROR "Deployment values the library cannot work with:${problems}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  nimbra_check_deployment("${NIMBRA_SERVER_URL}" "${NIMBRA_ENDPOINT}" "${NIMBRA_BUCKET}")
endif()
