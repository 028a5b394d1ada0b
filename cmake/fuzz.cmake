# Fuzz targets: every fuzz/*_fuzz.cpp, linked with the driver's core, the
# serial port in memory (fuzz/memory_port.cpp) in place of the platform's, and
# a logging call that drops the messages (fuzz/host_log.cpp). Their seed
# corpora are fuzz/corpus/<target>/.
#
# With -DZAMKT_LIBFUZZER=ON (clang only; fuzz/run.sh builds them so in
# build-fuzz/) they are libFuzzer programs, and everything is instrumented for
# coverage and built with AddressSanitizer and UndefinedBehaviorSanitizer.
# Otherwise fuzz/runner.cpp replays files and runs seeded random mutations,
# and CTest runs each target over its corpus and 20000 mutations (under the
# sanitizers in build-asan/).
option(ZAMKT_LIBFUZZER "Build the fuzz targets for libFuzzer (clang only)" OFF)
if(ZAMKT_LIBFUZZER)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZAMKT_LIBFUZZER needs clang (found ${CMAKE_CXX_COMPILER_ID}): "
                        "configure with CC=clang CXX=clang++, or run fuzz/run.sh")
  endif()
  # The driver's objects and the fuzz programs carry the coverage
  # instrumentation; only the fuzz programs link libFuzzer's main.
  set(ZAMKT_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(zamkt_core PRIVATE ${ZAMKT_FUZZ_FLAGS})
endif()

add_library(zamkt_fuzz_support OBJECT ${CMAKE_SOURCE_DIR}/fuzz/memory_port.cpp ${CMAKE_SOURCE_DIR}/fuzz/host_log.cpp)
target_include_directories(zamkt_fuzz_support PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(zamkt_fuzz_support PRIVATE ${ZAMKT_FUZZ_FLAGS})

file(GLOB ZAMKT_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
set(ZAMKT_GATEWAY_FUZZ_TARGETS set_payload_fuzz modbus_request_fuzz gate_list_fuzz)
if(ZAMKT_LIBFUZZER AND TARGET zamgate_core)
  # Coverage inside the gateway's and the host's code too.
  target_compile_options(zamgate_core PRIVATE ${ZAMKT_FUZZ_FLAGS})
  foreach(face ${ZAMGATE_FACES})
    target_compile_options(zamgate_${face} PRIVATE ${ZAMKT_FUZZ_FLAGS})
  endforeach()
  target_compile_options(n2host PRIVATE ${ZAMKT_FUZZ_FLAGS})
endif()
foreach(fuzz_file ${ZAMKT_FUZZ_TARGETS})
  get_filename_component(fuzz_name ${fuzz_file} NAME_WE)
  set(fuzz_corpus ${CMAKE_SOURCE_DIR}/fuzz/corpus/${fuzz_name})
  if(ZAMKT_LIBFUZZER)
    add_executable(${fuzz_name} ${fuzz_file} $<TARGET_OBJECTS:zamkt_core> $<TARGET_OBJECTS:zamkt_fuzz_support>)
    target_compile_options(${fuzz_name} PRIVATE ${ZAMKT_FUZZ_FLAGS})
    target_link_options(${fuzz_name} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    add_executable(${fuzz_name} ${fuzz_file} ${CMAKE_SOURCE_DIR}/fuzz/runner.cpp $<TARGET_OBJECTS:zamkt_core>
                                $<TARGET_OBJECTS:zamkt_fuzz_support>)
    if(ZAMKT_TESTS)
      add_test(NAME ${fuzz_name}_smoke COMMAND ${fuzz_name} ${fuzz_corpus} --random 20000 --seed 7)
      set_tests_properties(${fuzz_name}_smoke PROPERTIES TIMEOUT 300)
    endif()
  endif()
  target_include_directories(${fuzz_name} PRIVATE ${CMAKE_SOURCE_DIR})
  # The BACnet decoder and device are the gateway's, compiled in alone (no
  # sockets, no threads); toml++ is header-only.
  if(fuzz_name STREQUAL "bacnet_fuzz")
    target_sources(${fuzz_name} PRIVATE ${CMAKE_SOURCE_DIR}/zamgate/bacnet/codec.cpp
                                        ${CMAKE_SOURCE_DIR}/zamgate/bacnet/device.cpp)
  endif()
  set_target_properties(${fuzz_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  # The gateway's parsers of outside input (set payloads, Modbus requests)
  # link the gateway's own code.
  if(fuzz_name IN_LIST ZAMKT_GATEWAY_FUZZ_TARGETS AND TARGET zamgate_core)
    target_link_libraries(${fuzz_name} PRIVATE zamgate_core)
  endif()
endforeach()

# The port in memory and the targets' checks, tested as the targets rely on them.
if(ZAMKT_TESTS AND NOT ZAMKT_LIBFUZZER)
  find_package(GTest REQUIRED)
  add_executable(fuzz_support_test ${CMAKE_SOURCE_DIR}/fuzz/fuzz_support_test.cpp $<TARGET_OBJECTS:zamkt_core>
                                   $<TARGET_OBJECTS:zamkt_fuzz_support>)
  target_include_directories(fuzz_support_test PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(fuzz_support_test PRIVATE GTest::gtest_main)
  add_test(NAME fuzz_support_test COMMAND fuzz_support_test)
  set_tests_properties(fuzz_support_test PROPERTIES TIMEOUT 300)
endif()
