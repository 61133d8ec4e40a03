# Planning and encoding one program line (target: under 250 ns per line).
quorvane_benchmark(planning_bench ${CMAKE_CURRENT_LIST_DIR}/planning_bench.cpp)
