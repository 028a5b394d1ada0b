# Benchmarks. zamkt_bench (Google Benchmark): the pure parts and whole
# requests through ZamMain against the simulator. zamkt_poll_bench: zamhost's
# poll against the simulator on a paced line. bench.sh runs both and writes
# docs/PERFORMANCE.md; CTest runs each once, briefly, to see that it still runs.
find_package(benchmark QUIET)
find_package(Threads REQUIRED)
if(benchmark_FOUND)
  # The end-to-end benchmarks drive the driver as the tests do, through DriverChannel.
  add_executable(zamkt_bench
    ${CMAKE_SOURCE_DIR}/bench/bench_main.cpp
    ${CMAKE_SOURCE_DIR}/bench/codec_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/exchange_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/figure_rows.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/driver_channel.cpp
    ${ZAMKT_DRIVER_OBJECTS})
  target_include_directories(zamkt_bench PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(zamkt_bench PRIVATE qorpro benchmark::benchmark Threads::Threads)
  if(TARGET n2sim_core)
    target_link_libraries(zamkt_bench PRIVATE n2sim_core)
  endif()
  if(ZAMKT_TESTS)
    add_test(NAME zamkt_bench_smoke COMMAND zamkt_bench --benchmark_min_time=0.001)
    set_tests_properties(zamkt_bench_smoke PROPERTIES TIMEOUT 300 LABELS bench)
  endif()
endif()

if(TARGET zamhost_core AND TARGET n2sim_core)
  # The poll runs zamhost's own Poller, with the driver loaded from libzamkt.so.
  add_executable(zamkt_poll_bench
    ${CMAKE_SOURCE_DIR}/bench/poll_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/minimum_exchanges.cpp
    ${CMAKE_SOURCE_DIR}/bench/figure_rows.cpp)
  target_include_directories(zamkt_poll_bench PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(zamkt_poll_bench PRIVATE ZAMKT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(zamkt_poll_bench PRIVATE zamhost_core n2sim_core)
  add_dependencies(zamkt_poll_bench zamkt)
  if(ZAMKT_TESTS)
    # One unpaced cycle each way; the plan must make no more exchanges than
    # the plant needs (a count, not a timing).
    add_test(NAME zamkt_poll_bench_smoke COMMAND zamkt_poll_bench --cycles 1 --single-cycles 1 --baud 0 --expect-minimum)
    set_tests_properties(zamkt_poll_bench_smoke PROPERTIES TIMEOUT 300 LABELS bench)
  endif()
endif()

if(TARGET zamgate_core AND TARGET n2sim)
  # zamgate's Modbus face while it polls the benchmark plant: client latency
  # and the poll cycle with and without Modbus clients.
  add_executable(zamgate_modbus_bench ${CMAKE_SOURCE_DIR}/bench/modbus_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/gateway_bench_support.cpp ${CMAKE_SOURCE_DIR}/bench/figure_rows.cpp)
  target_include_directories(zamgate_modbus_bench PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(zamgate_modbus_bench PRIVATE ZAMKT_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                          ZAMKT_BUILD_DIR="${CMAKE_BINARY_DIR}")
  target_link_libraries(zamgate_modbus_bench PRIVATE zamgate_core Threads::Threads)
  add_dependencies(zamgate_modbus_bench zamgate n2sim zamkt)
endif()
if(TARGET zamgate_core AND TARGET n2sim)
  # zamgate's BACnet/IP face the same way: ReadProperty latency and the poll
  # cycle with and without BACnet clients.
  add_executable(zamgate_bacnet_bench ${CMAKE_SOURCE_DIR}/bench/bacnet_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/gateway_bench_support.cpp ${CMAKE_SOURCE_DIR}/bench/figure_rows.cpp)
  target_include_directories(zamgate_bacnet_bench PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(zamgate_bacnet_bench PRIVATE ZAMKT_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                          ZAMKT_BUILD_DIR="${CMAKE_BINARY_DIR}")
  target_link_libraries(zamgate_bacnet_bench PRIVATE Threads::Threads)
  add_dependencies(zamgate_bacnet_bench zamgate n2sim zamkt)
endif()
if(TARGET zamgate_bacnet_bench AND ZAMKT_TESTS)
  add_test(NAME zamgate_bacnet_bench_smoke COMMAND zamgate_bacnet_bench --cycles 1 --clients 2 --baud 0)
  set_tests_properties(zamgate_bacnet_bench_smoke PROPERTIES TIMEOUT 300 LABELS bench)
endif()
if(TARGET zamgate_modbus_bench AND ZAMKT_TESTS)
  # One unpaced cycle each way, two clients: that it still runs.
  add_test(NAME zamgate_modbus_bench_smoke COMMAND zamgate_modbus_bench --cycles 1 --clients 2 --baud 0)
  set_tests_properties(zamgate_modbus_bench_smoke PROPERTIES TIMEOUT 300 LABELS bench)
endif()
