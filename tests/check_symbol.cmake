# Fails unless the binary BINARY defines the symbol SYMBOL.
execute_process(COMMAND nm ${BINARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm ${BINARY} failed")
endif()
string(FIND "${symbols}" " ${SYMBOL}\n" found)
if(found EQUAL -1)
  message(FATAL_ERROR "${BINARY} does not define ${SYMBOL}")
endif()
