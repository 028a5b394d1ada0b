# Benchmarks (Google Benchmark): bench/*.cpp into one program, build/zamkt_bench.
find_package(benchmark QUIET)
find_package(Threads REQUIRED)
if(benchmark_FOUND)
  file(GLOB ZAMKT_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  # The end-to-end benchmarks drive the driver as the tests do, through DriverChannel.
  add_executable(zamkt_bench ${ZAMKT_BENCH_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/driver_channel.cpp
                             ${ZAMKT_DRIVER_OBJECTS})
  target_include_directories(zamkt_bench PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(zamkt_bench PRIVATE qorpro benchmark::benchmark benchmark::benchmark_main Threads::Threads)
  if(TARGET n2sim_core)
    target_link_libraries(zamkt_bench PRIVATE n2sim_core)
  endif()
endif()
