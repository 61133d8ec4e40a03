# The program run in the window on the real clock: lines per second, painting, STOP, the
# Simulate pace and the processor time at the board's pace. See the comment on top of
# run_bench.cpp; `<build>/bench/run_bench` runs them all.
add_executable(run_bench ${CMAKE_CURRENT_LIST_DIR}/run_bench.cpp)
target_link_libraries(run_bench PRIVATE quorvane_ui quorvane_cam_gcode)
target_include_directories(run_bench PRIVATE ${CMAKE_SOURCE_DIR})
quorvane_warnings(run_bench)
