# Benchmarks (Google Benchmark): bench/*.cpp into one program, build/zamkt_bench.
find_package(benchmark QUIET)
if(benchmark_FOUND)
  file(GLOB ZAMKT_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  add_executable(zamkt_bench ${ZAMKT_BENCH_SOURCES} $<TARGET_OBJECTS:zamkt_core>)
  target_include_directories(zamkt_bench PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(zamkt_bench PRIVATE qorpro benchmark::benchmark benchmark::benchmark_main Threads::Threads)
endif()
