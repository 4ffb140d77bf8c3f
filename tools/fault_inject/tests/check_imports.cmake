# Fails unless the binary BINARY imports every symbol of SYMBOLS from a
# shared library, where a preloaded library can take its place.
execute_process(COMMAND nm -D --undefined-only ${BINARY} OUTPUT_VARIABLE imports RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm -D ${BINARY} failed")
endif()
foreach(symbol IN LISTS SYMBOLS)
  string(REGEX MATCH " U ${symbol}(@[^\n]*)?\n" found "${imports}")
  if(NOT found)
    message(FATAL_ERROR "${BINARY} does not import ${symbol}")
  endif()
endforeach()
