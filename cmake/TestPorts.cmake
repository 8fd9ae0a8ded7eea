# Loopback ports for the tests' copy of the library, picked once per build
# tree at configure time (cached), so two trees on one machine, or a test run
# beside `make demo`, never need the same port.
if(NOT NIMBRA_TEST_API_PORT OR NOT NIMBRA_TEST_STORE_PORT)
  try_run(_run_result _compile_result ${CMAKE_BINARY_DIR}/pick_ports
          ${CMAKE_CURRENT_LIST_DIR}/pick_ports.c RUN_OUTPUT_VARIABLE _ports)
  if(NOT _compile_result OR NOT _run_result EQUAL 0)
    message(FATAL_ERROR "could not find two free loopback ports for the tests")
  endif()
  list(GET _ports 0 _api)
  list(GET _ports 1 _store)
  set(NIMBRA_TEST_API_PORT ${_api} CACHE STRING "Web API port of the tests' library copy")
  set(NIMBRA_TEST_STORE_PORT ${_store} CACHE STRING "Store port of the tests' library copy")
endif()
message(STATUS "Test ports: web API ${NIMBRA_TEST_API_PORT}, store ${NIMBRA_TEST_STORE_PORT}")
