# G-code loader benchmarks and the seeded CAM-style file generator.
add_library(quorvane_cam_gcode STATIC ${CMAKE_CURRENT_LIST_DIR}/cam_gcode.cpp)
target_link_libraries(quorvane_cam_gcode PUBLIC quorvane_core)
quorvane_warnings(quorvane_cam_gcode)

quorvane_benchmark(gcode_bench ${CMAKE_CURRENT_LIST_DIR}/gcode_bench.cpp)
target_link_libraries(gcode_bench PRIVATE quorvane_cam_gcode)

add_executable(gen_cam_gcode ${CMAKE_CURRENT_LIST_DIR}/gen_cam_gcode.cpp)
target_link_libraries(gen_cam_gcode PRIVATE quorvane_cam_gcode)
quorvane_warnings(gen_cam_gcode)

add_executable(gcode_load_process ${CMAKE_CURRENT_LIST_DIR}/gcode_load_process.cpp)
target_link_libraries(gcode_load_process PRIVATE quorvane_core)
quorvane_warnings(gcode_load_process)

# The window's Load of a file, timed end to end.
add_executable(gcode_gui_load ${CMAKE_CURRENT_LIST_DIR}/gcode_gui_load.cpp)
target_link_libraries(gcode_gui_load PRIVATE quorvane_ui)
quorvane_warnings(gcode_gui_load)

# The toolpath view on a large program, frame by frame (run under xvfb-run).
add_executable(view_bench ${CMAKE_CURRENT_LIST_DIR}/view_bench.cpp)
target_link_libraries(view_bench PRIVATE quorvane_ui)
quorvane_warnings(view_bench)
