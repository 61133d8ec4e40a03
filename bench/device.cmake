# Processor time of the acknowledgement wait: build and run with
#   cmake --build <build> --target device_wait_bench && <build>/bench/device_wait_bench
# It needs no display (it uses Qt's offscreen platform when none is set).
quorvane_benchmark(device_wait_bench ${CMAKE_CURRENT_LIST_DIR}/device_wait_bench.cpp)
target_link_libraries(device_wait_bench PRIVATE quorvane_ui)
