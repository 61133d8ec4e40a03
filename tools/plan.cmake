# quorvane-plan, the dry run of a G-code file; it links the toolkit-free core only.
add_library(quorvane_plan_tool STATIC
    ${CMAKE_CURRENT_LIST_DIR}/plan_tool.cpp
)
target_link_libraries(quorvane_plan_tool PUBLIC quorvane_core)
# --version prints the version of project() in the top CMakeLists.txt.
target_compile_definitions(quorvane_plan_tool PRIVATE QUORVANE_VERSION="${PROJECT_VERSION}")
quorvane_warnings(quorvane_plan_tool)

add_executable(quorvane-plan ${CMAKE_CURRENT_LIST_DIR}/quorvane_plan.cpp)
target_link_libraries(quorvane-plan PRIVATE quorvane_plan_tool)
quorvane_warnings(quorvane-plan)
install(TARGETS quorvane-plan RUNTIME DESTINATION bin)
