# Sanitizer builds of the host code and the tests.
#
# VELDRUN_SANITIZE=address instruments with AddressSanitizer (leak detection
# included) and UndefinedBehaviorSanitizer; VELDRUN_SANITIZE=thread with
# ThreadSanitizer. Only C++ is instrumented: nvcc neither understands these
# flags nor could instrument device code, and the fill kernel's host-side
# loop is compiled into the tests from C++ anyway. Every finding is fatal, so
# that a report can never pass as a warning.
set(VELDRUN_SANITIZE "" CACHE STRING "Sanitize host code and tests: empty, address or thread")
set_property(CACHE VELDRUN_SANITIZE PROPERTY STRINGS "" address thread)

if(VELDRUN_SANITIZE STREQUAL "")
  return()
elseif(VELDRUN_SANITIZE STREQUAL "address")
  set(VELDRUN_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(VELDRUN_SANITIZE STREQUAL "thread")
  set(VELDRUN_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
else()
  message(FATAL_ERROR "VELDRUN_SANITIZE is '${VELDRUN_SANITIZE}'; use address, thread or nothing")
endif()

add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${VELDRUN_SANITIZER_FLAGS}>")
# GCC's flow analysis sees the sanitizers' instrumentation and then reports
# libstdc++ internals (std::function inside std::regex, for one) as maybe
# used uninitialized. The plain build keeps the warning, as an error.
add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CXX_COMPILER_ID:GNU>>:-Wno-maybe-uninitialized>")
add_link_options("$<$<LINK_LANGUAGE:CXX>:${VELDRUN_SANITIZER_FLAGS}>")
